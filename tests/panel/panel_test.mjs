// ptsa-panel in a real browser: headless Chromium, driven by puppeteer-core,
// against the panel and the reference service, each a process of its own
// (Windows programs under Wine with --emulator). One browser session tells
// the story: no service, then its values; the page's changes confirmed by
// the service; a second client's change; a wedge set to run an application;
// key capture; the refusals.
//
//   node panel_test.mjs --panel P --service S --cli C --artifacts DIR [--emulator WINE]
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { option, Program, sleep } from './support.mjs';

// puppeteer-core is installed outside the tree (scripts/setup.sh).
const modules = process.env.PTSA_NODE_MODULES;
const puppeteer = (await import(pathToFileURL(createRequire(path.join(modules, '.')).resolve('puppeteer-core')))).default;
const TILT_KEY = 'ComponentsDriver\\\\PenHandler\\\\PenTransducer\\\\TiltSensitivity';

// A request as another page might send it, Host and all.
function request(url, { method = 'GET', host, body, type = 'application/json' } = {}) {
  return new Promise((done, fail) => {
    const headers = { ...(host ? { Host: host } : {}), ...(body ? { 'Content-Type': type } : {}) };
    const req = http.request(url, { method, headers }, (res) => {
      let text = '';
      res.on('data', (data) => { text += data; });
      res.on('end', () => done({ status: res.statusCode, text }));
    });
    req.on('error', fail);
    req.end(body);
  });
}

const programs = [];
const start = (file, ...args) => { const p = new Program(file, args); programs.push(p); return p; };
const profile = mkdtempSync(path.join(os.tmpdir(), 'ptsa-chromium-'));
let browser;
try {
  const panel = start(option('panel'), '--quit-at-eof');
  const [url] = await panel.waitFor('out', /http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32}/);
  const base = new URL(url);
  const api = (name) => `${base.origin}/api/${name}?token=${base.searchParams.get('token')}`;

  // Refused before anything is served: a foreign Host (no token, and the
  // page served without one, are hostile_test.mjs's).
  assert.equal((await request(url, { host: `localhost:${base.port}` })).status, 421);
  assert.equal((await request(api('tilt'), { method: 'POST', host: 'evil.example', body: '{"value":9}' })).status, 421);

  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 900 });
  await page.goto(url);
  const text = (selector, tab = page) => tab.$eval(selector, (node) => node.textContent);
  const shows = (selector, expected, timeout = 15000, tab = page) =>
    tab.waitForFunction((s, e) => document.querySelector(s)?.textContent === e, { timeout, polling: 100 }, selector, expected)
      .catch(async () => assert.fail(`${selector} shows "${await text(selector, tab)}", not "${expected}"`));
  // The token leaves the address bar (and the history) once the page has it.
  await page.waitForFunction(() => location.href === `${location.origin}/`, { timeout: 5000 });

  // No service: the page says so; once it runs, the values appear.
  await shows('#connection', 'the settings service is not available');
  const service = start(option('service'), '--stdin-control', '--trace');
  await service.waitFor('out', /ready/);
  await shows('#connection', 'connected');
  await shows('#version-service', '3.1.0');
  const handshake = {
    '#version-hidRouter': '2.4.7', '#tilt-value': '5', '#tip-value': '3', '#range-a': '0 to 6',
    '#range-b': '-90 to 90', '#wedge-count': '10', '#zoom-c': '100', '#eraser-double-function': 'Run application (23)',
    '#top-switch-hover': 'on', '#wedge-0 .text': 'Ctrl+C', '#wedge-4 .text': 'calc.exe',
    '#options-run-application': 'Calculator · Notepad · Paint',
    '#options-side-switch': '0 · 1 · 2 · 3 · 4 · Keystrokes (8) · 9 · Run application (23)',
  };
  for (const [selector, expected] of Object.entries(handshake)) await shows(selector, expected);
  assert.deepEqual(await page.$eval('#pens tr', (row) => [...row.cells].map((c) => c.textContent)),
    ['QRE-0012345', 'PEN-7F3A21', 'BT-00A1B2C3', ' 85']);
  assert.equal(await page.$eval('#pens meter', (meter) => meter.value), 85);
  await sleep(2100); // the marks of the new values fade
  await page.screenshot({ path: path.join(option('artifacts'), 'panel.png'), fullPage: true });

  // Bad requests are refused and reach no setter (the trace below shows it).
  for (const body of ['{"value":4294967296}', '{"value":-1}', '{"value":"7"}', '{"value":1.5}', '[]', 'x']) {
    assert.equal((await request(api('tilt'), { method: 'POST', body })).status, 400, body);
  }
  assert.equal((await request(api('wedge'), { method: 'POST', body: '{"index":10,"function":1}' })).status, 400);

  // The tilt from the page: while the service is held (stopped; under Wine
  // the process is the Windows program itself) the page only waits; the
  // value shows when the service has answered.
  process.kill(service.child.pid, 'SIGSTOP');
  await page.type('#tilt-input', '44');
  await page.click('#tilt-set');
  await sleep(500);
  assert.equal(await text('#tilt-value'), '5');
  assert.match(await text('#tilt-status'), /waiting for the service/);
  process.kill(service.child.pid, 'SIGCONT');
  await shows('#tilt-value', '44');
  await shows('#tilt-status', 'confirmed by the service');

  // A second client's change shows within five seconds.
  const cli = start(option('cli'), 'set', 'tilt', '12');
  await shows('#tilt-value', '12', 5000);
  assert.equal(await cli.exit, 0);
  const tilts = service.err.split('\n').filter((line) => line.includes(`< {"${TILT_KEY}":"`))
    .map((line) => line.match(/":"(\d*)"\}/)[1]);
  assert.deepEqual(tilts, ['44', '12']);

  // A wedge set to an entry of the run-application list: function 23 with its text.
  await page.select('#wedge-index', '6');
  await page.select('#wedge-function', 'app:Paint');
  await page.click('#wedge-set');
  await shows('#wedge-6 .function', 'Run application (23)');
  await shows('#wedge-6 .text', 'Paint');

  // The rule's refusal shows beside the change that was asked for.
  await page.select('#wedge-function', '8');
  await page.type('#wedge-text', 'x{"GetVal":"y');
  await page.click('#wedge-set');
  await shows('#wedge-change .status', 'the text holds {"GetVal":", which the link would take for a read request');

  // Ten tabs of one browser: the new ones are handed the token by the first
  // and share its one event stream; a change from the last shows in all.
  const tabs = [page];
  for (let i = 1; i < 10; i++) {
    tabs.push(await browser.newPage());
    await tabs[i].goto(`${base.origin}/`);
  }
  for (const tab of tabs) await shows('#wedge-6 .text', 'Paint', 15000, tab);
  await tabs[9].type('#tilt-input', '13');
  await tabs[9].click('#tilt-set');
  for (const tab of tabs) await shows('#tilt-value', '13', 15000, tab);
  await shows('#tilt-status', 'confirmed by the service', 15000, tabs[9]);
  for (const tab of tabs.slice(1)) await tab.close();

  // Key capture: started from the page, typed by the service, shown at the finish.
  await page.click('#capture-start');
  await service.waitFor('err', /KeystrokeCapture":"1"/);
  service.child.stdin.write('key Ctrl+Alt+K\n');
  await service.waitFor('err', /> \{"[^"]*CapturedKeystrokesEntities":"Ctrl\+Alt\+K"\}/);
  await sleep(300); // the push crosses the send-only pipe
  await page.click('#capture-finish');
  await shows('#captured', 'Ctrl+Alt+K');

  // A page opened late receives the whole current state first.
  await page.reload();
  for (const [selector, expected] of [['#version-service', '3.1.0'], ['#tilt-value', '13'], ['#wedge-6 .text', 'Paint'],
    ['#range-b', '-90 to 90'], ['#connection', 'connected']]) await shows(selector, expected);

  await browser.close();
  browser = null;
  assert.equal(await panel.end(), 0, `the panel ends cleanly:\n${panel.err}`);
  assert.equal(await service.end(), 0);
  console.log('panel test passed');
} finally {
  await browser?.close();
  for (const { child } of programs) if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
  rmSync(profile, { recursive: true, force: true });
}
