// Sign-in over HTTPS in headless Chromium: a panel served by tessora-cli with a users file and a
// certificate made for the test (accepted by the browser for the test), bound to the Unity
// simulator. A viewer's panel shows the value and its slider writes nothing; an operator's
// slider writes into the simulator; without credentials the browser gets the sign-in challenge.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { cli, dragSlider, launchBrowser, start, stop } from './support.mjs';

const simPath = path.join(path.dirname(cli), 'tests/unity_sim');
const servingTls = /Serving .* on https:\/\/[0-9.]+:([0-9]+)\//;

let work;
let sim;
let simLines;
let serve;
let serveLog = '';
let browser;

function project(simPort) {
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="0">
		<page name="FirstPage">
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">
				<unitylink variable="%MW0" refreshperiod="200" gatewayid="uni1" />
			</slider>
		</page>
		<unigateway ip="127.0.0.1:${simPort}" address="" id="uni1" />
	</project>
</tsr>
`;
}

function simCommand(line) {
  return new Promise((resolve) => {
    simLines.once('line', resolve);
    sim.stdin.write(`${line}\n`);
  });
}

function addUser(file, name, role, password) {
  execFileSync(cli, ['user', 'add', file, name, '--role', role, '--password-stdin'],
    { input: `${password}\n`, stdio: ['pipe', 'ignore', 'ignore'] });
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-signin-'));
  // The machine's certificate is made in the profile directory: this test's own.
  process.env.XDG_CONFIG_HOME = path.join(work, 'config');
  sim = spawn(simPath, ['--set', '%MW0=37'], { stdio: ['pipe', 'pipe', 'inherit'] });
  simLines = readline.createInterface({ input: sim.stdout });
  const simPort = Number(await new Promise((resolve) => simLines.once('line', resolve)));
  const users = path.join(work, 'users');
  addUser(users, 'ann', 'operator', 'ann-secret');
  addUser(users, 'bob', 'viewer', 'bob-secret');
  fs.writeFileSync(path.join(work, 'tsr.tsr'), project(simPort));
  serve = await start(cli, ['serve', path.join(work, 'tsr.tsr'), '--port', '0', '--users', users,
    '--tls-self-signed'], {
    work, ready: servingTls, onOutput: (d) => { serveLog += d; },
  });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  await stop(serve);
  if (sim) {
    const ended = new Promise((r) => sim.once('exit', r));
    sim.stdin.write('quit\n');
    await ended;
  }
  fs.rmSync(work, { recursive: true, force: true });
});

// A browser context signed in as `user` (none: no credentials).
async function panel(user, password) {
  const m = servingTls.exec(serveLog);
  assert.ok(m, `tessora-cli serve started with HTTPS; log: ${serveLog}`);
  const context = await browser.newContext({
    ignoreHTTPSErrors: true,
    viewport: { width: 480, height: 800 },
    ...(user ? { httpCredentials: { username: user, password } } : {}),
  });
  const page = await context.newPage();
  const response = await page.goto(`https://127.0.0.1:${m[1]}/`);
  return { context, page, status: response.status() };
}

test('without credentials the browser is asked to sign in', async () => {
  const m = servingTls.exec(serveLog);
  assert.ok(m, `tessora-cli serve started with HTTPS; log: ${serveLog}`);
  // Headless Chromium cannot show its sign-in prompt: the browser context's own requests show
  // the challenge it would answer.
  const context = await browser.newContext({ ignoreHTTPSErrors: true });
  const response = await context.request.get(`https://127.0.0.1:${m[1]}/`);
  assert.equal(response.status(), 401);
  assert.match(response.headers()['www-authenticate'], /^Basic realm="Tessora tsr\.tsr"/);
  await context.close();
});

test('a viewer sees the value and cannot change it', async () => {
  const { context, page, status } = await panel('bob', 'bob-secret');
  assert.equal(status, 200);
  await page.waitForFunction(() => window.jQuery && jQuery('#slider1').val() === '37', null, { timeout: 8000 });
  await dragSlider(page, 'slider1', 80);
  await page.waitForTimeout(800);
  assert.equal(await simCommand('get %MW0'), '37');
  await context.close();
});

test('an operator\'s slider writes into the controller', async () => {
  const { context, page, status } = await panel('ann', 'ann-secret');
  assert.equal(status, 200);
  await page.waitForFunction(() => window.jQuery && jQuery('#slider1').val() === '37', null, { timeout: 8000 });
  await dragSlider(page, 'slider1', 80);
  await page.waitForFunction(() => window.slider1changing === 0);
  const value = await page.inputValue('#slider1');
  assert.notEqual(value, '37');
  let stored = '';
  for (let i = 0; i < 50 && stored !== value; ++i) {
    stored = await simCommand('get %MW0');
    if (stored !== value) await new Promise((r) => setTimeout(r, 100));
  }
  assert.equal(stored, value);
  await context.close();
});
