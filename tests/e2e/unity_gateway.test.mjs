// A panel bound to the Unity / M340 simulator, served by tessora-cli and run in headless Chromium:
// the slider and the switch show the simulator's values, and moving the slider writes the new
// value into the simulator.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { cli, dragSlider, launchBrowser, serving, start, stop } from './support.mjs';

const simPath = path.join(path.dirname(cli), 'tests/unity_sim');

let work;
let sim;
let simLines;
let serve;
let serveLog = '';
let browser;

// The project: a slider on %MW0 and a switch on %M5, both through one Unity gateway, and the
// same on a second page, which jQuery Mobile enhances only when it is first shown.
function project(simPort) {
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="0">
		<page name="FirstPage">
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">
				<unitylink variable="%MW0" refreshperiod="200" gatewayid="uni1" />
			</slider>
			<switch text="Pump" texton="On" textoff="Off" id="toggle1">
				<unitylink variable="%M5" refreshperiod="200" gatewayid="uni1" />
			</switch>
		</page>
		<page name="SecondPage">
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider2">
				<unitylink variable="%MW0" refreshperiod="200" gatewayid="uni1" />
			</slider>
			<switch text="Pump" texton="On" textoff="Off" id="toggle2">
				<unitylink variable="%M5" refreshperiod="200" gatewayid="uni1" />
			</switch>
			<checkb text="Pump" id="check2">
				<unitylink variable="%M5" refreshperiod="200" gatewayid="uni1" />
			</checkb>
		</page>
		<unigateway ip="127.0.0.1:${simPort}" address="" id="uni1" />
	</project>
</tsr>
`;
}

// Sends one command to the simulator and returns its answer line.
function simCommand(line) {
  return new Promise((resolve) => {
    simLines.once('line', resolve);
    sim.stdin.write(`${line}\n`);
  });
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-unity-'));
  sim = spawn(simPath, ['--set', '%MW0=37', '--set', '%M5=1'], { stdio: ['pipe', 'pipe', 'inherit'] });
  simLines = readline.createInterface({ input: sim.stdout });
  const simPort = Number(await new Promise((resolve) => simLines.once('line', resolve)));
  assert.ok(simPort > 0, 'the simulator tells its port');

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

test('the panel shows and writes the simulator\'s variables', async () => {
  const m = serving.exec(serveLog);
  assert.ok(m, `tessora-cli serve started; log: ${serveLog}`);
  assert.match(serveLog, /Connected to Unity simulator or M340/);

  const page = await browser.newPage({ viewport: { width: 480, height: 800 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${m[1]}/`);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);

  // The simulator's values.
  await page.waitForFunction(() => jQuery('#slider1').val() === '37', null, { timeout: 5000 });
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'On', null, { timeout: 5000 });
  // A change in the simulator reaches the page.
  assert.equal(await simCommand('set %M5 0'), 'ok');
  await page.waitForFunction(() => jQuery('#toggle1').val() === 'Off', null, { timeout: 5000 });

  // Moving the slider writes its new value into the simulator.
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
  // And the page keeps showing it.
  await page.waitForTimeout(600);
  assert.equal(await page.inputValue('#slider1'), value);

  // The widgets of the page not shown yet kept reading meanwhile, without a script error, and
  // show the values once their page is shown.
  assert.deepEqual(errors, []);
  await page.evaluate(() => jQuery.mobile.changePage('#SecondPage'));
  await page.waitForFunction(() => jQuery('.ui-page-active').attr('id') === 'SecondPage');
  await page.waitForFunction((v) => jQuery('#slider2').val() === v, value, { timeout: 5000 });
  assert.equal(await simCommand('set %M5 1'), 'ok');
  await page.waitForFunction(() => jQuery('#toggle2').val() === 'On', null, { timeout: 5000 });
  await page.waitForFunction(() => jQuery('#check2').prop('checked') === true, null, { timeout: 5000 });
  assert.deepEqual(errors, []);
  await page.close();
});
