// The generated application of a project holding every widget type, run in headless Chromium:
// it loads with no script error, jQuery Mobile enhances the page, the knob and the plot are drawn,
// and moving the slider changes its value. Served by a stand-in device server, the page reads
// its variables and writes only after the user moves a widget.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { artifacts, cli, dragSlider, here, launchBrowser } from './support.mjs';

let outDir;
let browser;

before(async () => {
  outDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-'));
  execFileSync(cli, ['generate', path.join(here, 'all_widgets.tsr'), '--out', outDir], { stdio: 'pipe' });
  fs.mkdirSync(artifacts, { recursive: true });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  fs.rmSync(outDir, { recursive: true, force: true });
});

// Opens `url` in a fresh page that records script errors.
async function open(url) {
  const page = await browser.newPage({ viewport: { width: 480, height: 1400 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(url);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);
  return { page, errors };
}

// True when the canvas holds at least one pixel that is not fully transparent.
function canvasDrawn(page, selector) {
  return page.evaluate((sel) => {
    const c = document.querySelector(sel);
    if (!c || !c.width || !c.height) return false;
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    for (let i = 3; i < data.length; i += 4) if (data[i] !== 0) return true;
    return false;
  }, selector);
}

test('the generated application runs from the output directory', async () => {
  const { page, errors } = await open(pathToFileURL(path.join(outDir, 'index.html')).href);
  // jQuery Mobile enhanced the widgets.
  assert.equal(await page.locator('#FirstPage.ui-page').count(), 1);
  assert.ok(await page.locator('.ui-slider-handle').count() >= 2, 'range sliders and the switch');
  assert.ok(await page.locator('.ui-checkbox').count() >= 2);
  assert.ok(await page.locator('.ui-collapsible').count() >= 1);
  // The knob and the plot drew their canvases.
  await page.waitForSelector('#plot1 .jqplot-series-canvas');
  assert.ok(await canvasDrawn(page, 'canvas[width]:not(.jqplot-base-canvas)'), 'knob canvas');
  assert.ok(await canvasDrawn(page, '#plot1 .jqplot-series-canvas'), 'plot series');
  // The script object ran.
  assert.equal(await page.evaluate(() => window.e2eScriptRan), true);
  // Moving the slider changes its value.
  const before = await page.inputValue('#slider1');
  await dragSlider(page, 'slider1', 60);
  assert.notEqual(await page.inputValue('#slider1'), before);
  await page.screenshot({ path: path.join(artifacts, 'all_widgets.png'), fullPage: true });
  assert.deepEqual(errors, []);
  await page.close();
});

test('served, the page reads its variables and writes only what the user changed', async () => {
  // A stand-in device: every variable reads 42 until it is written.
  const posts = [];
  const variables = new Map();
  const server = http.createServer((req, res) => {
    if (req.method === 'POST') {
      const item = req.url.slice(1);
      posts.push(item);
      const eq = item.indexOf('=');
      if (eq >= 0) variables.set(item.slice(0, eq), item.slice(eq + 1));
      res.writeHead(200, { 'Content-Type': 'text/plain', 'Access-Control-Allow-Origin': '*' });
      res.end(eq >= 0 ? '' : item.includes('[') ? '1,2,3,4,5' : variables.get(item) ?? '42');
      return;
    }
    const file = path.join(outDir, decodeURIComponent(new URL(req.url, 'http://x').pathname));
    if (!file.startsWith(outDir) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      const index = path.join(outDir, 'index.html');
      if (req.url === '/') { res.writeHead(200, { 'Content-Type': 'text/html' }); res.end(fs.readFileSync(index)); return; }
      res.writeHead(404); res.end(); return;
    }
    res.writeHead(200); res.end(fs.readFileSync(file));
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  const { port } = server.address();
  try {
    const { page, errors } = await open(`http://127.0.0.1:${port}/`);
    await page.waitForFunction(() => jQuery('#slider1').val() === '42', null, { timeout: 5000 })
      .catch((e) => { throw new Error(`${e.message}; posts: ${posts.join(' ')}; errors: ${errors}`); });
    await page.waitForTimeout(1500);  // a few polling periods
    // Every variable bound on the first page is read; nothing is written.
    for (const read of ['CVNm200', 'UNI%MW0', 'S7%MW0', 'KX%MW0@XPI11', 'SMmybehavior'])
      assert.ok(posts.includes(read), `${read} read; got ${posts.join(' ')}`);
    assert.deepEqual(posts.filter((p) => p.includes('=')), []);
    // Releasing a moved slider writes its new value, which the page then reads back.
    await dragSlider(page, 'slider1', 60);
    await page.waitForFunction(() => window.slider1changing === 0);
    const value = await page.inputValue('#slider1');
    assert.notEqual(value, '42');
    assert.ok(posts.includes(`S7%MW0=${value}`), `write of ${value}; got ${posts.join(' ')}`);
    await page.waitForTimeout(700);
    assert.equal(await page.inputValue('#slider1'), value);
    assert.deepEqual(errors, []);
    await page.close();
  } finally {
    server.close();
  }
});
