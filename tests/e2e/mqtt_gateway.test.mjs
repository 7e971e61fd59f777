// A panel bound to MQTT topics of Debian's mosquitto broker, served by tessora-cli and run in
// headless Chromium: the slider shows a retained topic, the knob a field of a JSON payload that
// mosquitto_pub publishes, moving the slider publishes its value (seen by mosquitto_sub), and the
// widgets show the no-communication state once the broker is gone.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { artifacts, cli, dragSlider, launchBrowser, serving, start, stop } from './support.mjs';

let work;
let broker;
let port;
let serve;
let serveLog = '';
let browser;

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port: p } = s.address();
      s.close(() => resolve(p));
    });
  });
}

function project() {
  return `<?xml version="1.0"?>
<tsr>
	<project webserveron="1" webserverport="0">
		<page name="FirstPage">
			<slider text="Level" value="50" min="0" max="100" step="1" id="slider1">
				<mqttlink variable="plant/level" refreshperiod="200" gatewayid="mq1" />
			</slider>
			<knob value="0" min="0" max="1000" step="1" width="150" thickness="0.2" cursor="0" displayvalue="1" textafter="" readonly="0" fgcolor="0" bgcolor="65535" angleoffset="0" dataarc="380" dprevious="0" id="knob1">
				<mqttlink variable="plant/meter|ENERGY.Power" refreshperiod="200" gatewayid="mq1" />
			</knob>
		</page>
		<mqttgateway url="mqtt://127.0.0.1:${port}" clientid="" username="" password="" retain="0" address="" id="mq1" />
	</project>
</tsr>
`;
}

function publish(topic, payload, retain = false) {
  execFileSync('mosquitto_pub', ['-h', '127.0.0.1', '-p', String(port), '-q', '1', '-t', topic,
    '-m', payload, ...(retain ? ['-r'] : [])]);
}

before(async () => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessora-e2e-mqtt-'));
  port = await freePort();
  const user = os.userInfo().username;  // run as root, mosquitto would switch to its own user
  fs.writeFileSync(path.join(work, 'mosquitto.conf'),
    `user ${user}\nlistener ${port} 127.0.0.1\nallow_anonymous true\npersistence false\n`);
  broker = await start('/usr/sbin/mosquitto', ['-c', path.join(work, 'mosquitto.conf'), '-v'],
    { work, ready: /running/ });
  publish('plant/level', '37', true);
  publish('plant/meter', '{"ENERGY":{"Power":640}}', true);

  fs.writeFileSync(path.join(work, 'tsr.tsr'), project());
  serve = await start(cli, ['serve', path.join(work, 'tsr.tsr'), '--port', '0'],
    { work, ready: serving, onOutput: (d) => { serveLog += d; } });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  await stop(serve);
  await stop(broker);
  fs.rmSync(work, { recursive: true, force: true });
});

test('the panel shows and publishes MQTT topics, then shows the broker gone', async () => {
  const m = serving.exec(serveLog);
  assert.ok(m, `tessora-cli serve started; log: ${serveLog}`);
  assert.match(serveLog, new RegExp(`Connected to MQTT broker 127\\.0\\.0\\.1:${port}`));

  const page = await browser.newPage({ viewport: { width: 480, height: 800 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${m[1]}/`);
  await page.waitForFunction(() => window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length === 1);

  // The retained values at once, and a new publish at the next refresh.
  await page.waitForFunction(() => jQuery('#slider1').val() === '37', null, { timeout: 5000 });
  await page.waitForFunction(() => jQuery('#knob1').val() === '640', null, { timeout: 5000 });
  publish('plant/meter', '{"ENERGY":{"Power":712}}');
  await page.waitForFunction(() => jQuery('#knob1').val() === '712', null, { timeout: 5000 });

  // Moving the slider publishes its value to the topic.
  const sub = spawn('mosquitto_sub', ['-h', '127.0.0.1', '-p', String(port), '-t', 'plant/level',
    '-C', '2', '-W', '10']);
  let seen = '';
  sub.stdout.on('data', (d) => { seen += d; });
  const subEnded = new Promise((r) => sub.once('exit', r));
  await new Promise((r) => setTimeout(r, 300));  // subscribed: the retained 37 comes first
  await dragSlider(page, 'slider1', 80);
  await page.waitForFunction(() => window.slider1changing === 0);
  const value = await page.inputValue('#slider1');
  assert.notEqual(value, '37');
  await subEnded;
  assert.deepEqual(seen.trim().split('\n'), ['37', value]);

  // The broker goes away: the widgets keep their last value and show no communication.
  await stop(broker);
  await page.waitForFunction(() => jQuery('#slider1').parent().hasClass('tsrnocomm'), null,
    { timeout: 8000 });
  assert.equal(await page.inputValue('#knob1'), '712');
  assert.deepEqual(errors, []);
  await page.screenshot({ path: path.join(artifacts, 'mqtt_panel.png') });
  await page.close();
});
