// A panel bound to an independent S7 server (the snap7 library's, tests/sims/snap7_server.mjs),
// served by tessora-cli and run in headless Chromium: the slider and the switch show the values in
// the server's memory, and moving the slider or flipping the switch writes into that memory, read
// back through the server's own interface; the retry ticks of serve report the server stopped and
// started again.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { cli, dragSlider, launchBrowser, root, serving, start, stop } from './support.mjs';

const simPath = path.join(root, 'tests/sims/snap7_server.mjs');

let work;
let sim;
let simLines;
let serve;
let serveLog = '';
let browser;

// The project: a slider on %MW10 and a switch on %M20.9 (bit 1 of byte 21), both through one S7
// gateway with the second connection request form.
function project(simPort) {
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="0">
		<page name="FirstPage">
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">
				<s7iplink variable="%MW10" refreshperiod="200" gatewayid="s71" />
			</slider>
			<switch text="Pump" texton="On" textoff="Off" id="toggle1">
				<s7iplink variable="%M20.9" refreshperiod="200" gatewayid="s71" />
			</switch>
		</page>
		<s7ipgateway ip="127.0.0.1:${simPort}" ucpos="2" address="" id="s71" />
	</project>
</tsr>
`;
}

// Sends one command to the S7 server and returns its answer line.
function simCommand(line) {
  return new Promise((resolve) => {
    simLines.once('line', resolve);
    sim.stdin.write(`${line}\n`);
  });
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-s7-'));
  sim = spawn(process.execPath, [simPath], { stdio: ['pipe', 'pipe', 'inherit'] });
  simLines = readline.createInterface({ input: sim.stdout });
  const first = await new Promise((resolve) => simLines.once('line', resolve));
  const simPort = Number(/^port ([0-9]+)$/.exec(first)?.[1]);
  assert.ok(simPort > 0, `the S7 server tells its port: ${first}`);
  // %MW10 = 37; %M20.9 is bit 1 of byte 21: on.
  assert.equal(await simCommand('set MK 10 0025'), 'ok');
  assert.equal(await simCommand('set MK 20 5502'), 'ok');

  fs.writeFileSync(path.join(work, 'tsr.tsr'), project(simPort));
  serve = await start(cli, ['serve', path.join(work, 'tsr.tsr'), '--port', '0'],
    { work, ready: serving, onOutput: (d) => { serveLog += d; } });
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

test('the panel shows and writes the S7 server\'s memory', async () => {
  const m = serving.exec(serveLog);
  assert.ok(m, `tessora-cli serve started; log: ${serveLog}`);
  assert.match(serveLog, /Connected to S7 IP/);

  const page = await browser.newPage({ viewport: { width: 480, height: 800 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${m[1]}/`);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);

  // The server's values.
  await page.waitForFunction(() => jQuery('#slider1').val() === '37', null, { timeout: 5000 });
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'On', null, { timeout: 5000 });
  // A change in the server's memory reaches the page.
  assert.equal(await simCommand('set MK 21 fd'), 'ok');
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'Off', null, { timeout: 5000 });

  // Moving the slider writes its new value into the server's memory.
  await dragSlider(page, 'slider1', 80);
  await page.waitForFunction(() => window.slider1changing === 0);
  const value = await page.inputValue('#slider1');
  assert.notEqual(value, '37');
  let stored = '';
  for (let i = 0; i < 50 && stored !== value; ++i) {
    const answer = await simCommand('get MK 10 2');
    stored = answer.startsWith('ok ') ? String(parseInt(answer.slice(3), 16)) : answer;
    if (stored !== value) await new Promise((r) => setTimeout(r, 100));
  }
  assert.equal(stored, value);
  // And the page keeps showing it.
  await page.waitForTimeout(600);
  assert.equal(await page.inputValue('#slider1'), value);

  // Flipping the switch sets the bit again (a read, change and write of byte 21) and leaves the
  // rest of bytes 20 and 21 as they were.
  await page.locator('#toggle1').locator('xpath=..').locator('.ui-slider-handle').click();
  let bytes = '';
  for (let i = 0; i < 50 && bytes !== 'ok 55ff'; ++i) {
    bytes = await simCommand('get MK 20 2');
    if (bytes !== 'ok 55ff') await new Promise((r) => setTimeout(r, 100));
  }
  assert.equal(bytes, 'ok 55ff');
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'On', null, { timeout: 5000 });
  assert.deepEqual(errors, []);
  await page.close();
});

// Waits until the serve log after `mark` matches `pattern`, for at most `ms`.
async function logAfter(mark, pattern, ms) {
  for (let waited = 0; waited < ms && !pattern.test(serveLog.slice(mark)); waited += 100)
    await new Promise((r) => setTimeout(r, 100));
  return serveLog.slice(mark);
}

test('the retry ticks of serve report the S7 server going and coming back', async () => {
  const page = await browser.newPage({ viewport: { width: 480, height: 800 } });
  const m = serving.exec(serveLog);
  await page.goto(`http://127.0.0.1:${m[1]}/`);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);

  let mark = serveLog.length;
  assert.equal(await simCommand('stop'), 'ok');
  // The retry timer runs every 5 seconds.
  assert.match(await logAfter(mark, /Cannot connect to S7 IP, will retry in 5 seconds/, 12000),
    /Cannot connect to S7 IP, will retry in 5 seconds/);

  mark = serveLog.length;
  assert.equal(await simCommand('start'), 'ok');
  assert.equal(await simCommand('set MK 10 000c'), 'ok');
  assert.match(await logAfter(mark, /Connected to S7 IP/, 12000), /Connected to S7 IP/);
  // The page reads through the new connection.
  await page.waitForFunction(() => jQuery('#slider1').val() === '12', null, { timeout: 5000 });
  await page.close();
});
