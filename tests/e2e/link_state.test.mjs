// A panel with every kind of linked widget bound to the Unity / M340 simulator, served by
// tessora-cli and run in headless Chromium. While the simulator runs the widgets show its values;
// when it stops, the server answers error texts and every widget keeps its last value and shows
// the "no communication" state; when it runs again the state clears and the values update. When
// the server itself goes away the requests fail, with the same result, and when it comes back
// the widgets read again. Writes still reach the simulator.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { artifacts, cli, dragSlider, launchBrowser } from './support.mjs';

const simPath = path.join(path.dirname(cli), 'tests/unity_sim');

const PERIOD = 500;  // the refresh period of every link, in ms

let work;
let simPort;
let sim = null;
let simLines;
let serve = null;
let servePort;
let serveLog = '';
let browser;

// Every widget kind a link reads into, with the variable it is bound to. The plot starts with
// one point: the plot library refuses to draw an empty series when the page is shown.
function project(port) {
  const link = (v) => `<unitylink variable="${v}" refreshperiod="${PERIOD}" gatewayid="uni1" />`;
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="0">
		<unigateway ip="127.0.0.1:${port}" address="" id="uni1" />
		<page name="FirstPage">
			<switch text="Pump" texton="On" textoff="Off" id="toggle1">${link('%M5')}</switch>
			<checkb text="Valve" id="check1">${link('%M6')}</checkb>
			<radiob text="Manual" name="mode" value="1" id="radio1">${link('%MW4')}</radiob>
			<radiob text="Auto" name="mode" value="2" id="radio2">${link('%MW4')}</radiob>
			<textinput text="Setpoint" value="" readonly="0" id="text1">${link('%MW2')}</textinput>
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">${link('%MW0')}</slider>
			<knob value="50" min="0" max="100" step="1" width="120" thickness="0.2" cursor="0" displayvalue="1" textafter="" readonly="0" fgcolor="255" bgcolor="65535" angleoffset="0" dataarc="360" dprevious="0" id="knob1">${link('%MW6')}</knob>
			<plot style="height:200px;width:300px;" setup="seriesDefaults: { rendererOptions: { smooth: false } }" script="var rendererplot1 = function() {return plotplot1data}; plotplot1data[0].push([0, 0]);" length="100" id="plot1">${link('%MW8')}</plot>
		</page>
	</project>
</tsr>
`;
}

// Defined in the page: probe() gives the value each widget shows and the state of its boxes
// (the box that carries the state: the plot's div, else the input's wrapper); allInState(lost)
// tells whether every box of every kind is in that state.
const probeSource = `
window.probe = function () {
  var $ = window.jQuery;
  var points = window.plotplot1data[0];
  var box = function (sel) { var w = $(sel); return w.is('div') ? w : w.parent(); };
  var state = function (sel) {
    return box(sel).toArray().map(function (e) {
      return { lost: $(e).hasClass('tsrnocomm'), title: e.getAttribute('title') };
    });
  };
  var checked = $('input[name=mode]:checked').val();
  return {
    values: {
      switch: $('#toggle1').val(),
      checkbox: $('#check1').prop('checked'),
      radio: checked === undefined ? null : checked,
      text: $('#text1').val(),
      slider: $('#slider1').val(),
      knob: $('#knob1').val(),
      plot: points.length ? String(points[points.length - 1][1]) : null
    },
    points: points.length,
    badPoints: points.filter(function (p) { return !/^-?[0-9.]+$/.test(String(p[1])); }).length,
    states: {
      switch: state('#toggle1'), checkbox: state('#check1'), radio: state('input[name=mode]'),
      text: state('#text1'), slider: state('#slider1'), knob: state('#knob1'), plot: state('#plot1')
    }
  };
};
window.allInState = function (lost) {
  var s = window.probe().states;
  return Object.keys(s).every(function (k) {
    return s[k].length > 0 && s[k].every(function (b) { return b.lost === lost; });
  });
};`;

const kinds = ['switch', 'checkbox', 'radio', 'text', 'slider', 'knob', 'plot'];

async function startSim(values) {
  const args = ['--port', String(simPort ?? 0)];
  for (const [name, value] of Object.entries(values)) args.push('--set', `${name}=${value}`);
  sim = spawn(simPath, args, { stdio: ['pipe', 'pipe', 'inherit'] });
  simLines = readline.createInterface({ input: sim.stdout });
  const port = Number(await new Promise((resolve) => simLines.once('line', resolve)));
  assert.ok(port > 0, 'the simulator tells its port');
  simPort = port;
}

async function stopSim() {
  const ended = new Promise((r) => sim.once('exit', r));
  sim.stdin.write('quit\n');
  await ended;
  sim = null;
}

function simCommand(line) {
  return new Promise((resolve) => {
    simLines.once('line', resolve);
    sim.stdin.write(`${line}\n`);
  });
}

async function startServe(port) {
  serveLog = '';
  serve = spawn(cli, ['serve', path.join(work, 'tsr.tsr'), '--port', String(port)], {
    env: { ...process.env, TMPDIR: work, LC_ALL: 'C' }, stdio: ['ignore', 'ignore', 'pipe'] });
  serve.stderr.on('data', (d) => { serveLog += d; });
  let m = null;
  for (let i = 0; i < 200 && !m; ++i) {
    m = /Serving .* on http:\/\/[0-9.]+:([0-9]+)\//.exec(serveLog);
    if (!m) await new Promise((r) => setTimeout(r, 50));
  }
  assert.ok(m, `tessora-cli serve started; log: ${serveLog}`);
  servePort = Number(m[1]);
}

async function stopServe() {
  const ended = new Promise((r) => serve.once('exit', r));
  serve.kill('SIGTERM');
  await ended;
  serve = null;
}

// True when nothing listens on the port any more.
function portClosed(port) {
  return new Promise((resolve) => {
    const s = net.connect(port, '127.0.0.1');
    s.once('connect', () => { s.destroy(); resolve(false); });
    s.once('error', () => resolve(true));
  });
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-state-'));
  fs.mkdirSync(artifacts, { recursive: true });
  await startSim({ '%M5': 1, '%M6': 1, '%MW4': 2, '%MW2': 1234, '%MW0': 37, '%MW6': 60, '%MW8': 5 });
  fs.writeFileSync(path.join(work, 'tsr.tsr'), project(simPort));
  await startServe(0);
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (serve) await stopServe();
  if (sim) await stopSim();
  fs.rmSync(work, { recursive: true, force: true });
});

test('a lost device or server shows on every linked widget, which keeps its last value', async () => {
  assert.match(serveLog, /Connected to Unity simulator or M340/);
  const page = await browser.newPage({ viewport: { width: 480, height: 1200 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  const wait = (fn, arg, timeout) => page.waitForFunction(fn, arg, { timeout, polling: 50 });
  await page.goto(`http://127.0.0.1:${servePort}/`);
  await wait(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1, null, 5000);
  // The state's style sheet is linked and delivered.
  assert.equal(await page.evaluate(() => [...document.styleSheets]
    .some((s) => /tsrlink\.css$/.test(s.href || '') && s.cssRules.length > 0)), true);

  await page.evaluate(probeSource);
  const probe = () => page.evaluate(() => window.probe());
  const inState = (lost, timeout) => wait((l) => window.allInState(l), lost, timeout)
    .catch(async (e) => { throw new Error(`${e.message}; ${JSON.stringify(await probe())}; errors: ${errors}`); });

  // With the simulator running: its values, no state.
  const live = { switch: 'On', checkbox: true, radio: '2', text: '1234', slider: '37', knob: '60', plot: '5' };
  await wait((v) => JSON.stringify(window.probe().values) === v, JSON.stringify(live), 5000)
    .catch(async (e) => { throw new Error(`${e.message}; ${JSON.stringify(await probe())}; errors: ${errors}`); });
  await page.waitForTimeout(2 * PERIOD);
  let seen = await probe();
  assert.deepEqual(seen.values, live);
  for (const k of kinds)
    assert.ok(seen.states[k].length > 0 && seen.states[k].every((b) => !b.lost && b.title === null),
      `${k}: ${JSON.stringify(seen.states[k])}`);

  // The simulator stops: within two refresh periods every widget shows the state and keeps its
  // value, and the plot adds no point.
  await stopSim();
  const stopped = Date.now();
  await inState(true, 2 * PERIOD);
  console.log(`simulator stopped: every widget shows the state after ${Date.now() - stopped} ms ` +
    `(refresh period ${PERIOD} ms)`);
  await page.screenshot({ path: path.join(artifacts, 'link_state_lost.png'), fullPage: true });
  const pointsWhenLost = (await probe()).points;
  await page.waitForTimeout(3 * PERIOD);
  seen = await probe();
  assert.deepEqual(seen.values, live);
  assert.equal(seen.points, pointsWhenLost, 'no point added while the device is lost');
  assert.equal(seen.badPoints, 0);
  for (const k of kinds)
    assert.ok(seen.states[k].every((b) => b.lost && b.title === 'No communication'),
      `${k}: ${JSON.stringify(seen.states[k])}`);

  // The simulator runs again, with other values: the state clears and the values update.
  await startSim({ '%M5': 0, '%M6': 0, '%MW4': 1, '%MW2': 4321, '%MW0': 73, '%MW6': 20, '%MW8': 9 });
  const fresh = { switch: 'Off', checkbox: false, radio: '1', text: '4321', slider: '73', knob: '20', plot: '9' };
  await inState(false, 15000);
  await page.waitForTimeout(2 * PERIOD);
  seen = await probe();
  assert.deepEqual(seen.values, fresh);
  assert.ok(seen.points > pointsWhenLost);

  // Writes behave as before: clicking the check box writes 1, releasing the slider its value.
  await page.locator('label[for=check1]').click();
  await wait(() => window.check1changing === 0 && jQuery('#check1').prop('checked'), null, 3000);
  let stored = '';
  for (let i = 0; i < 50 && stored !== '1'; ++i) {
    stored = await simCommand('get %M6');
    if (stored !== '1') await page.waitForTimeout(100);
  }
  assert.equal(stored, '1');
  await dragSlider(page, 'slider1', -60);
  await wait(() => window.slider1changing === 0, null, 3000);
  const value = await page.inputValue('#slider1');
  assert.notEqual(value, '73');
  stored = '';
  for (let i = 0; i < 50 && stored !== value; ++i) {
    stored = await simCommand('get %MW0');
    if (stored !== value) await page.waitForTimeout(100);
  }
  assert.equal(stored, value);
  await page.waitForTimeout(2 * PERIOD);
  assert.equal(await page.inputValue('#slider1'), value);

  // The server goes away: the requests fail, every widget shows the state and keeps its value.
  const shown = (await probe()).values;
  await stopServe();
  assert.ok(await portClosed(servePort));
  await inState(true, 2 * PERIOD);
  await page.waitForTimeout(2 * PERIOD);
  assert.deepEqual((await probe()).values, shown);
  // The server comes back on the same port: every widget reads again, the slider too.
  assert.equal(await simCommand('set %MW0 12'), 'ok');
  await startServe(servePort);
  await inState(false, 15000);
  await wait(() => jQuery('#slider1').val() === '12', null, 5000);

  assert.deepEqual(errors, []);
  await page.close();
});
