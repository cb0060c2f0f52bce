// The editor's terminal grid in headless Chromium: 1,000 rows pasted from a
// tab-separated block into one module, then saved.  Prints the time from the
// paste to the grid holding every row (the dialog that says what the paste
// will do is answered at once), and from the save button to the page saying
// the rows are saved (the reply, and the rows read back and drawn again).
//
//   NODE_PATH=build/browser-tests/node_modules node bench/web-grid.js build/cli/kivplc [CATALOGUE]
//
// Without CATALOGUE a new one is made from examples/sample-catalogue.json; a
// catalogue given (say, one imported from the large Access fixture) is
// changed: a module BENCH-GRID is added to its first type.  KIV_CHROMIUM
// names the browser (default /usr/bin/chromium).
'use strict';
const { chromium } = require('playwright-core');
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const ROWS = 1000;

async function main() {
  const [kivplc, given] = process.argv.slice(2);
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-grid-'));
  const db = given || path.join(work, 'bench.db');
  if (!given) {
    execFileSync(kivplc, ['init', db]);
    execFileSync(kivplc, ['-c', db, 'import', path.join(__dirname, '..', 'examples', 'sample-catalogue.json')]);
  }
  const tree = JSON.parse(execFileSync(kivplc, ['-c', db, 'tree', '--json'], { encoding: 'utf8' }));
  const m = tree[0], s = m.series[0], t = s.types[0];
  const doc = { format: 'kivplc-catalogue', version: 1, manufacturers: [{ name: m.name, series: [{ name: s.name, types: [{ name: t.name,
    modules: [{ CODE: 'BENCH-GRID', terminals: [{ SEQUENCE: 1, BLOCK: 'B', ATTRIBUTES: 'TERM=1;ADDR=E0.0;DESC1=x' }] }] }] }] }] };
  fs.writeFileSync(path.join(work, 'module.json'), JSON.stringify(doc));
  execFileSync(kivplc, ['-c', db, 'import', '--skip-existing', path.join(work, 'module.json')]);

  const server = spawn(kivplc, ['serve', '-c', db, '--listen', '127.0.0.1:0'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    let text = '';
    server.stdout.on('data', (d) => { text += d; const x = /http:\/\/127\.0\.0\.1:\d+\/?\S*/.exec(text); if (x) resolve(x[0]); });
    server.on('exit', (code) => reject(new Error(`kivplc serve stopped (${code}): ${text}`)));
  });
  const browser = await chromium.launch({ executablePath: process.env.KIV_CHROMIUM || '/usr/bin/chromium' });
  try {
    const page = await browser.newPage({ viewport: { width: 1366, height: 900 } });
    page.on('dialog', (d) => d.accept());
    await page.goto(url);
    const e = encodeURIComponent;
    await page.evaluate((hash) => { location.hash = hash; }, `#/m/${e(m.name)}/s/${e(s.name)}/t/${e(t.name)}/BENCH-GRID`);
    await page.locator('h1', { hasText: 'BENCH-GRID' }).waitFor();
    const block = Array.from({ length: ROWS }, (_, i) => `B_${i}\t${i + 1}\tE${i >> 3}.${i & 7}\tEingang ${i}`).join('\n');
    const first = page.locator('table.terms tbody tr').first().locator('input').nth(1);
    await first.click();
    const pasted = await page.evaluate(async ([text, rows]) => {
      const start = performance.now();
      const data = new DataTransfer();
      data.setData('text/plain', text);
      document.activeElement.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
      const ok = await new Promise((resolve) => { const f = () => { const b = document.querySelector('#dialog[open] button[type=submit]'); if (b) resolve(b); else requestAnimationFrame(f); }; f(); });
      ok.click();
      await new Promise((resolve) => { const f = () => (document.querySelectorAll('table.terms tbody tr').length >= rows ? resolve() : requestAnimationFrame(f)); f(); });
      return performance.now() - start;
    }, [block, ROWS]);
    const saved = await page.evaluate(async () => {
      const start = performance.now();
      [...document.querySelectorAll('button')].find((b) => b.textContent === 'Save terminal rows').click();
      await new Promise((resolve) => { const f = () => (/Terminal rows saved/.test(document.querySelector('#status').textContent) ? resolve() : setTimeout(f, 2)); f(); });
      return performance.now() - start;
    });
    const rows = await page.locator('table.terms tbody tr').count();
    console.log(`${rows} terminal rows: paste ${pasted.toFixed(0)} ms, save ${saved.toFixed(0)} ms, together ${(pasted + saved).toFixed(0)} ms`);
  } finally {
    await browser.close();
    server.kill('SIGINT');
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
