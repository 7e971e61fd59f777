// What the browser tests share: where the programs are, headless Chromium, and starting and
// stopping tessora-cli and the simulators as a user runs them.
import { createRequire } from 'node:module';
import { spawn } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const root = path.resolve(here, '../..');
export const cli = process.env.TESSORA_CLI || path.join(root, 'build/tessora-cli');
export const artifacts = process.env.TESSORA_ARTIFACTS || path.join(root, 'build/e2e');
const browserPath = process.env.CHROMIUM || '/usr/bin/chromium';
const { chromium } = createRequire(path.join(root, 'web/package.json'))('playwright-core');

// The line `tessora-cli serve` prints once it serves, with the port in its first group.
export const serving = /Serving .* on http:\/\/[0-9.]+:([0-9]+)\//;

export function launchBrowser() {
  return chromium.launch({
    executablePath: browserPath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// Starts `program ARGS` with TMPDIR (and the runtime directory) in `work` and resolves with the
// child once its output matches `ready`; `onOutput` sees everything it prints. Rejects when it
// ends before, or when `ready` has not come within `timeout` ms.
export function start(program, args, { work, ready, onOutput, stdin = 'ignore', timeout = 20000 }) {
  const child = spawn(program, args, {
    env: { ...process.env, TMPDIR: work, XDG_RUNTIME_DIR: work, LC_ALL: 'C' },
    stdio: [stdin, 'pipe', 'pipe'],
  });
  let text = '';
  return new Promise((resolve, reject) => {
    const seen = (d) => {
      text += d;
      if (onOutput) onOutput(String(d));
      if (ready.test(text)) resolve(child);
    };
    child.stdout.on('data', seen);
    child.stderr.on('data', seen);
    child.once('exit', (code) => reject(new Error(`${args.join(' ')} ended (${code}): ${text}`)));
    setTimeout(() => reject(new Error(`${args.join(' ')} not ready after ${timeout} ms: ${text}`)),
      timeout).unref();
  });
}

// SIGTERM, and the child's end.
export function stop(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  const ended = new Promise((r) => child.once('exit', r));
  child.kill('SIGTERM');
  return ended;
}

// Drags the handle of the jQuery Mobile slider `id` by `dx` pixels (to the right when positive),
// as a finger or the mouse does.
export async function dragSlider(page, id, dx) {
  const handle = page.locator(`#${id}`).locator('xpath=..').locator('.ui-slider-handle');
  await handle.scrollIntoViewIfNeeded();
  const box = await handle.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + dx, box.y + box.height / 2, { steps: 5 });
  await page.mouse.up();
}
