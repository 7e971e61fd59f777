// A panel bound to an independent Modbus TCP server (pymodbus, Debian's python3-pymodbus), served
// by tessora-cli and run in headless Chromium: the slider and the switch show the server's
// registers and coils, the slider and the switch write them, and the widgets show the
// no-communication state once the server is gone.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { cli, dragSlider, launchBrowser, root, serving, start, stop } from './support.mjs';

const python = '/usr/bin/python3';
const serverScript = path.join(root, 'tests/sims/pymodbus_server.py');

let work;
let peer;
let peerLines;
let serve;
let serveLog = '';
let browser;

function project(port) {
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="0">
		<page name="FirstPage">
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">
				<modbuslink variable="hr0" refreshperiod="200" gatewayid="mb1" />
			</slider>
			<switch text="Pump" texton="On" textoff="Off" id="toggle1">
				<modbuslink variable="co5" refreshperiod="200" gatewayid="mb1" />
			</switch>
		</page>
		<modbusgateway ip="127.0.0.1:${port}" unit="1" address="" id="mb1" />
	</project>
</tsr>
`;
}

// Sends one command to the server's tables and returns its answer line.
function command(line) {
  return new Promise((resolve) => {
    peerLines.once('line', resolve);
    peer.stdin.write(`${line}\n`);
  });
}

// Polls `get` until it answers `expected`, for at most 5 s; the last answer.
async function waitFor(getLine, expected) {
  let got = '';
  for (let i = 0; i < 50 && got !== expected; ++i) {
    got = await command(getLine);
    if (got !== expected) await new Promise((r) => setTimeout(r, 100));
  }
  return got;
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-modbus-'));
  peer = spawn(python, [serverScript], { stdio: ['pipe', 'pipe', 'inherit'] });
  peerLines = readline.createInterface({ input: peer.stdout });
  const port = Number(await new Promise((resolve) => peerLines.once('line', resolve)));
  assert.ok(port > 0, 'the pymodbus server tells its port');
  assert.equal(await command('set hr 0 37'), 'ok');
  assert.equal(await command('set co 5 1'), 'ok');

  fs.writeFileSync(path.join(work, 'tsr.tsr'), project(port));
  serve = await start(cli, ['serve', path.join(work, 'tsr.tsr'), '--port', '0'],
    { work, ready: serving, onOutput: (d) => { serveLog += d; } });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  await stop(serve);
  if (peer && peer.exitCode === null) {
    const ended = new Promise((r) => peer.once('exit', r));
    peer.stdin.end('quit\n');
    await ended;
  }
  fs.rmSync(work, { recursive: true, force: true });
});

test('the panel shows and writes the Modbus server\'s variables, then shows it gone', async () => {
  const m = serving.exec(serveLog);
  assert.ok(m, `tessora-cli serve started; log: ${serveLog}`);
  assert.match(serveLog, /Connected to Modbus TCP device 127\.0\.0\.1:/);

  const page = await browser.newPage({ viewport: { width: 480, height: 800 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${m[1]}/`);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);

  // The server's values, and a change made in the server.
  await page.waitForFunction(() => jQuery('#slider1').val() === '37', null, { timeout: 5000 });
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'On', null, { timeout: 5000 });
  assert.equal(await command('set co 5 0'), 'ok');
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'Off', null, { timeout: 5000 });

  // Moving the slider writes the holding register; flipping the switch writes the coil.
  await dragSlider(page, 'slider1', 80);
  await page.waitForFunction(() => window.slider1changing === 0);
  const value = await page.inputValue('#slider1');
  assert.notEqual(value, '37');
  assert.equal(await waitFor('get hr 0', value), value);
  // The switch writes when the user lets it go: its stop handler posts the new state.
  await page.evaluate(() => {
    const toggle = jQuery('#toggle1');
    toggle.val('On').slider('refresh');
    toggle.slider('option', 'stop').call(toggle[0]);
  });
  assert.equal(await waitFor('get co 5', '1'), '1');
  await page.waitForTimeout(600);
  assert.equal(await page.inputValue('#slider1'), value);

  // The server goes away: the widgets keep their last value and show no communication.
  const ended = new Promise((r) => peer.once('exit', r));
  peer.stdin.end('quit\n');
  await ended;
  await page.waitForFunction(() => jQuery('#slider1').parent().hasClass('tsrnocomm'), null,
    { timeout: 8000 });
  assert.equal(await page.inputValue('#slider1'), value);
  assert.deepEqual(errors, []);
  await page.screenshot({ path: path.join(process.env.TESSORA_ARTIFACTS || path.join(root, 'build/e2e'), 'modbus_panel.png') });
  await page.close();
});
