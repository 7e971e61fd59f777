// The example project served as `./tessora.sh run` serves it without a display: the Unity, S7 and
// Modbus simulators of `tessora-cli simulate` beside `tessora-cli serve` of the example, seen by
// headless Chromium at phone size. The simulators take free ports, and the served copy of the
// example (written by tools/make_demo.py) names them, so that another program on the example's
// own ports changes nothing. The plot moves by itself, and a slider write reaches the
// simulator and is read back.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { artifacts, cli, dragSlider, launchBrowser, root, serving, start, stop } from './support.mjs';

let work;
const simulators = [];
let serve;
let serveLog = '';
let browser;

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-demo-'));
  fs.mkdirSync(artifacts, { recursive: true });
  // Each simulator on a free port; the copy of the example points its gateway there.
  const addresses = [];
  for (const [family, gateway] of [['unity', 'uni1'], ['s7', 's71'], ['modbus', 'mb1']]) {
    let printed = '';
    simulators.push(await start(cli, ['simulate', family, '--port', '0'], {
      work, ready: /Ctrl-C or SIGTERM stops it\./, onOutput: (d) => { printed += d; } }));
    const m = /gateway ip: (127\.0\.0\.1:[0-9]+)\n/.exec(printed);
    assert.ok(m, printed);
    addresses.push('--ip', `${gateway}=${m[1]}`);
  }
  const demo = path.join(work, 'demo.tsr');
  execFileSync('python3', [path.join(root, 'tools/make_demo.py'), '--output', demo, ...addresses]);
  serve = await start(cli, ['serve', demo, '--port', '0'],
    { work, ready: serving, onOutput: (d) => { serveLog += d; } });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  await stop(serve);
  for (const s of simulators) await stop(s);
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

// A read of the Unity simulator's variable through the server, as a page reads it.
async function readUnity(port, name) {
  const answer = await fetch(`http://127.0.0.1:${port}/UNI${name}`, { method: 'POST' });
  return answer.text();
}

test('the demo panel moves by itself and reads back a slider write', async () => {
  const m = serving.exec(serveLog);
  assert.ok(m, serveLog);
  const port = m[1];
  assert.match(serveLog, /Connected to Unity simulator or M340/);
  assert.match(serveLog, /Connected to S7 IP/);

  const page = await browser.newPage({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${port}/`);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);

  // The plot has values, and its picture changes: two screenshots 2 s apart differ.
  await page.waitForFunction(() => window.plotplot1data && plotplot1data[0].length >= 4, null, { timeout: 10000 });
  const plot = page.locator('#plot1');
  const before = await plot.screenshot({ path: path.join(artifacts, 'demo_plot_1.png') });
  const valuesBefore = await page.evaluate(() => JSON.stringify(plotplot1data));
  await page.waitForTimeout(2000);
  const after = await plot.screenshot({ path: path.join(artifacts, 'demo_plot_2.png') });
  const valuesAfter = await page.evaluate(() => JSON.stringify(plotplot1data));
  assert.notEqual(valuesAfter, valuesBefore);
  assert.ok(!before.equals(after), 'the plot is drawn again with other values');
  // The points are numbers, and the axis scaled over them holds them all.
  const scale = await page.evaluate(() => ({
    numbers: plotplot1data[0].every(([x, y]) => typeof x === 'number' && typeof y === 'number'),
    min: plotplot1.axes.yaxis.min, max: plotplot1.axes.yaxis.max,
    low: Math.min(...plotplot1data[0].map((p) => p[1])), high: Math.max(...plotplot1data[0].map((p) => p[1])),
  }));
  assert.ok(scale.numbers, JSON.stringify(scale));
  assert.ok(scale.min <= scale.low && scale.max >= scale.high, JSON.stringify(scale));
  // The knob shows the moving sine too: a whole number between 0 and 100, written in its middle.
  const knob = Number(await page.inputValue('#knob1'));
  assert.ok(knob >= 0 && knob <= 100, `knob ${knob}`);
  assert.ok(await page.locator('#knob1').isVisible(), 'the knob shows its number');

  // Moving the set point slider writes it into the simulator; the page reads it back into the
  // read-back field, and the simulator holds it.
  await dragSlider(page, 'slider1', 60);
  await page.waitForFunction(() => window.slider1changing === 0);
  const value = await page.inputValue('#slider1');
  assert.notEqual(value, '50');
  await page.waitForFunction((v) => jQuery('#textinput1').val() === v, value, { timeout: 5000 });
  assert.equal(await readUnity(port, '%MW10'), value);
  await page.waitForTimeout(1200);
  assert.equal(await page.inputValue('#slider1'), value);
  await page.screenshot({ path: path.join(artifacts, 'demo_panel.png'), fullPage: true });
  // The same panel on a desktop screen.
  const phone = page.viewportSize();
  await page.setViewportSize({ width: 1280, height: 800 });
  await page.waitForTimeout(300);
  await page.screenshot({ path: path.join(artifacts, 'demo_panel_desktop.png'), fullPage: true });
  await page.setViewportSize(phone);

  // The second page, bound to the S7 simulator, moves as well.
  await page.click('text=Line 2 - S7');
  await page.waitForFunction(() => jQuery('.ui-page-active').attr('id') === 'Trend');
  const knob2 = await page.inputValue('#knob2');
  await page.waitForFunction((k) => jQuery('#knob2').val() !== k, knob2, { timeout: 5000 });
  assert.ok(await page.locator('#knob2').isVisible(), 'the S7 knob shows its number');

  // The third page, bound to the Modbus simulator, moves and shows its numbers too.
  await page.click('text=Line 3 - Modbus');
  await page.waitForFunction(() => jQuery('.ui-page-active').attr('id') === 'Modbus');
  const knob3 = await page.inputValue('#knob3');
  await page.waitForFunction((k) => jQuery('#knob3').val() !== k, knob3, { timeout: 5000 });
  assert.ok(await page.locator('#knob3').isVisible(), 'the Modbus knob shows its number');
  assert.deepEqual(errors, []);
  await page.close();
});

test('the simulators stop on SIGTERM within a second', async () => {
  for (const s of simulators) {
    const t0 = Date.now();
    await stop(s);
    assert.ok(Date.now() - t0 < 1000, `stopped in ${Date.now() - t0} ms`);
    assert.equal(s.exitCode, 0);
  }
});
