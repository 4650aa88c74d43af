// The panel benchmark: how long a value pushed by the service takes to show
// on the page, and the panel's memory after many pushes. A tool, not a test.
// Headless Chromium (puppeteer-core) against ptsa-panel and the reference
// service; run it in a POSIX session of its own, so that the service's
// pipes are its own (bench/panel.sh does both).
//
//   node bench/panel_bench.mjs --build DIR [--pushes 1000] [--every-ms 5] [--flood 100000] [--flood-hz 1000] [--tabs 10]
//
// The latency is measured twice: with the page open in one tab, and in
// --tabs tabs of the same browser (the others opened on the page's address
// without the token, which the first hands them; all share one stream).
//
// Latency: the benchmark writes "push <tilt key> N" to the service's
// control input at time t0 (wall clock, sub-millisecond); the page's
// MutationObserver stamps the moment its tilt shows N (t1, the same clock,
// in Chromium). t1 - t0 is the way from the service (its control thread
// included) through the library, the panel's thread, the event stream and
// the page's script to the page's DOM, before the next paint.
// Memory: the panel's VmRSS and VmHWM (/proc) with a page open, after the
// handshake and after --flood battery pushes (--push-rate of the service)
// have reached a stream the benchmark opens in the page to count them.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const option = (name, fallback) => {
  const i = process.argv.indexOf(`--${name}`);
  return i > 0 ? process.argv[i + 1] : fallback;
};
const build = option('build');
const pushes = Number(option('pushes', 1000));
const everyMs = Number(option('every-ms', 5));
const flood = Number(option('flood', 100000));
const floodHz = Number(option('flood-hz', 1000));
const tabCount = Number(option('tabs', 10));
const modules = process.env.PTSA_NODE_MODULES ?? path.join(process.env.PTSA_NODE_DIR ?? '/opt/ptsa/node', 'node_modules');
const puppeteer = (await import(pathToFileURL(createRequire(path.join(modules, '.')).resolve('puppeteer-core')))).default;
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const now = () => performance.timeOrigin + performance.now();
const TILT_KEY = 'ComponentsDriver\\\\PenHandler\\\\PenTransducer\\\\TiltSensitivity';

function start(file, args) {
  const child = spawn(file, args, { stdio: ['pipe', 'pipe', 'inherit'] });
  child.out = '';
  child.stdout.on('data', (data) => { child.out += data; });
  return child;
}
async function waitFor(what, test, ms = 30000) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(20)) if (await test()) return;
  throw new Error(`timed out waiting for ${what}`);
}
function memory(pid) {
  const status = readFileSync(`/proc/${pid}/status`, 'utf8');
  const kb = (field) => Number(status.match(new RegExp(`${field}:\\s+(\\d+) kB`))[1]);
  return { rssKb: kb('VmRSS'), hwmKb: kb('VmHWM') };
}
const percentile = (sorted, p) => sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];

// A service and a panel, and the panel's page open in tabs tabs and past
// the handshake in each.
async function open(browser, serviceArgs, tabs = 1) {
  const service = start(path.join(build, 'tools/settings-service/pevra-settings-service'), ['--stdin-control', ...serviceArgs]);
  await waitFor('the service', () => service.out.includes('ready'));
  const panel = start(path.join(build, 'tools/ptsa-panel/ptsa-panel'), ['--quit-at-eof']);
  await waitFor('the URL', () => /http:\S+/.test(panel.out));
  const url = new URL(panel.out.match(/http:\S+/)[0]);
  const pages = [];
  for (let i = 0; i < tabs; i++) {
    pages.push(await browser.newPage());
    await pages[i].goto(i === 0 ? url.href : `${url.origin}/`);
    await pages[i].waitForFunction(() => document.querySelector('#tilt-value').textContent === '5', { timeout: 30000, polling: 100 });
  }
  return { service, panel, page: pages[0], pages };
}
async function close({ service, panel, pages }) {
  for (const page of pages) await page.close();
  panel.stdin.end();
  service.stdin.end();
  await Promise.all([panel, service].map((child) => new Promise((done) => child.on('exit', done))));
}

const profile = mkdtempSync(path.join(os.tmpdir(), 'ptsa-bench-chromium-'));
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
});
try {
  // Latency, in one tab and beside tabCount - 1 more.
  for (const tabs of [1, tabCount]) {
    const run = await open(browser, [], tabs);
    await run.page.evaluate(() => {
      window.seen = [];
      const tilt = document.querySelector('#tilt-value');
      new MutationObserver(() => window.seen.push([tilt.textContent, performance.timeOrigin + performance.now()]))
        .observe(tilt, { childList: true, characterData: true, subtree: true });
    });
    const sent = new Map();
    for (let i = 1; i <= pushes; i++) {
      const value = String(1000 + i);
      sent.set(value, now());
      run.service.stdin.write(`push ${TILT_KEY} ${value}\n`);
      await sleep(everyMs);
    }
    await run.page.waitForFunction((last) => document.querySelector('#tilt-value').textContent === last, { timeout: 30000 },
      String(1000 + pushes));
    const latencies = (await run.page.evaluate(() => window.seen))
      .filter(([value]) => sent.has(value)).map(([value, t1]) => t1 - sent.get(value)).sort((a, b) => a - b);
    console.log(`latency, ${tabs} tab${tabs > 1 ? 's' : ''} open, over ${latencies.length} of ${pushes} pushes, one every ${everyMs} ms: ` +
      `median ${percentile(latencies, 50).toFixed(2)} ms, p99 ${percentile(latencies, 99).toFixed(2)} ms, ` +
      `min ${latencies[0].toFixed(2)} ms, max ${latencies[latencies.length - 1].toFixed(2)} ms`);
    await close(run);
  }

  // Memory.
  const run = await open(browser, ['--push-rate', String(floodHz), '--push-count', String(flood)]);
  const before = memory(run.panel.pid);
  await run.page.evaluate(() => {
    window.pens = 0;
    new EventSource(`/events?token=${sessionStorage.getItem('ptsa-panel-token')}`)
      .addEventListener('pen', () => { window.pens += 1; });
  });
  const started = Date.now();
  let last = -1;
  // Done when the page's count of pen events stops growing for two seconds.
  for (;;) {
    await sleep(2000);
    const count = await run.page.evaluate(() => window.pens);
    if (count === last) break;
    last = count;
  }
  const after = memory(run.panel.pid);
  console.log(`memory: ${flood} battery pushes at ${floodHz} Hz, ${last} pen events reached the counting stream in about ` +
    `${((Date.now() - started) / 1000 - 2).toFixed(0)} s; panel VmRSS ${before.rssKb} kB before, ${after.rssKb} kB after ` +
    `(VmHWM ${after.hwmKb} kB)`);
  await close(run);
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
