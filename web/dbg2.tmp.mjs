import { createRequire } from 'node:module';
const require = createRequire('/work/wt-simulate/web/package.json');
const { chromium } = require('playwright-core');
const b = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox','--disable-gpu'] });
const p = await b.newPage({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
p.on('pageerror', e => console.log('ERR', String(e)));
await p.goto(process.argv[2]);
for (let i = 0; i < 8; i++) {
  await p.waitForTimeout(700);
  await p.locator('#plot1').screenshot({ path: `/tmp/plot${i}.png` });
  console.log(i, await p.evaluate(() => JSON.stringify({n: plotplot1data[0].length, min: plotplot1.axes.yaxis.min, max: plotplot1.axes.yaxis.max, last: plotplot1data[0].slice(-2)})));
}
await b.close();
