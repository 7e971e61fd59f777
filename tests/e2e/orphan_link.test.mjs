// A panel where some links name a gateway the project does not have, beside links to the Unity /
// M340 simulator and a linked plot whose script is the one the designer gives a linked plot.
// Served by tessora-cli and run in headless Chromium: the page runs without a script error, the
// links that have their gateway read the simulator's values, the plot holds only what it read and
// its axis follows the values, and the orphaned widgets show the no-communication state.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { artifacts, cli, launchBrowser, serving, start, stop } from './support.mjs';

const simPath = path.join(path.dirname(cli), 'tests/unity_sim');
const PERIOD = 300;

let work;
let sim = null;
let serve = null;
let serveLog = '';
let browser;

function project(simPort) {
  const link = (v, g) => `<unitylink variable="${v}" refreshperiod="${PERIOD}" gatewayid="${g}" />`;
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="8080">
		<page name="FirstPage">
			<knob value="50" min="0" max="100" step="1" width="120" thickness="0.2" cursor="0" displayvalue="1" textafter="" readonly="0" fgcolor="255" bgcolor="65535" angleoffset="0" dataarc="360" dprevious="0" id="knob1">${link('%MW6', 'uni1')}</knob>
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">${link('%MW0', 'uni9')}</slider>
			<switch text="Pump" texton="On" textoff="Off" id="toggle1">${link('%M5', 'uni1')}</switch>
			<button text="Start" style="" id="b1">${link('%M7', 'uni9')}</button>
			<plot style="height:200px;width:300px;" setup="seriesDefaults: { rendererOptions: { smooth: false } }" script="var rendererplot1 = function() {return plotplot1data[0].length ? plotplot1data : [[null]]};" length="100" id="plot1">${link('%MW8', 'uni1')}</plot>
		</page>
		<unigateway ip="127.0.0.1:${simPort}" address="" id="uni1" />
	</project>
</tsr>
`;
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-orphan-'));
  fs.mkdirSync(artifacts, { recursive: true });
  let simOut = '';
  sim = await start(simPath, ['--port', '0', '--set', '%MW6=60', '--set', '%M5=1', '--set', '%MW8=37'],
    { work, ready: /^[0-9]+\n/, onOutput: (d) => { simOut += d; }, stdin: 'pipe' });
  const simPort = Number(/^([0-9]+)/.exec(simOut)[1]);
  fs.writeFileSync(path.join(work, 'tsr.tsr'), project(simPort));
  serve = await start(cli, ['serve', path.join(work, 'tsr.tsr'), '--port', '0'],
    { work, ready: serving, onOutput: (d) => { serveLog += d; } });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  await stop(serve);
  await stop(sim);
  fs.rmSync(work, { recursive: true, force: true });
});

test('orphaned links are marked and said, and the rest of the page reads', async () => {
  for (const w of ['slider1 to %MW0', 'b1 to %M7'])
    assert.ok(serveLog.includes(`The link of ${w} refers to gateway uni9, which the project does not have`),
      serveLog);
  const port = Number(serving.exec(serveLog)[1]);
  const page = await browser.newPage({ viewport: { width: 480, height: 1000 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  const wait = (fn, arg, timeout) => page.waitForFunction(fn, arg, { timeout, polling: 50 });
  await page.goto(`http://127.0.0.1:${port}/`);
  await wait(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1, null, 5000);

  const probe = () => page.evaluate(() => {
    const $ = window.jQuery;
    const box = (sel) => { const w = $(sel); return w.is('div,a,button') ? w : w.parent(); };
    const state = (sel) => ({ lost: box(sel).hasClass('tsrnocomm'), title: box(sel).attr('title') || null });
    const points = window.plotplot1data[0];
    const y = window.plotplot1 ? window.plotplot1.axes.yaxis : null;
    return {
      knob: $('#knob1').val(), switch: $('#toggle1').val(),
      points: points.map((p) => p[1]),
      axis: y ? [y.min, y.max] : null,
      states: { knob: state('#knob1'), switch: state('#toggle1'), slider: state('#slider1'),
        button: state('#b1'), plot: state('#plot1') },
    };
  });
  const failed = async (e) => { throw new Error(`${e.message}; ${JSON.stringify(await probe())}; errors: ${errors}`); };
  // The links that have their gateway read; the plot draws its readings on a fitted axis.
  await wait(() => jQuery('#knob1').val() === '60' && jQuery('#toggle1').val() === 'On' &&
    window.plotplot1data[0].length >= 3, null, 8000).catch(failed);
  await page.waitForTimeout(2 * PERIOD);
  const seen = await probe();
  assert.deepEqual(errors, []);
  assert.ok(seen.points.length >= 3);
  assert.ok(seen.points.every((v) => v === 37), `only real readings: ${seen.points}`);
  assert.ok(seen.axis[0] <= 37 && seen.axis[1] >= 37, `the axis holds the readings: ${seen.axis}`);
  for (const k of ['knob', 'switch', 'plot'])
    assert.deepEqual(seen.states[k], { lost: false, title: null }, k);
  // The orphaned widgets are marked.
  for (const k of ['slider', 'button'])
    assert.deepEqual(seen.states[k], { lost: true, title: 'No communication' }, k);
  await page.screenshot({ path: path.join(artifacts, 'orphan_link.png'), fullPage: true });
  await page.close();
});
