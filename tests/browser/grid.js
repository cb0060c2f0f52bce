// The terminal grid as a maintainer adding a vendor's module uses it, in
// Debian's headless Chromium: paste 32 rows from a spreadsheet, fill a series
// of addresses, insert a row at 6, move the last row to the top, undo, save;
// `kivplc show` reads back what the grid showed.  Then SEQUENCE's range,
// number checks, metric from inch and duplicating the module.
//   node grid.js KIVPLC SOURCE-DIR OUT-DIR
'use strict';
const { chromium } = require('playwright-core');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const assert = require('node:assert/strict');
const { startServer } = require('./serve.js');

const [kivplc, source, out] = process.argv.slice(2);
const db = path.join(out, 'browser-grid.db');
const TYPE = ["Kessler & O'Neil", 'KX200', 'Digital Input'];

async function main() {
  const { server, url } = await startServer(kivplc, source, db);
  execFileSync(kivplc, ['-c', db, 'module', 'add', ...TYPE, 'GR-DI32', '--stdin'],
    { input: JSON.stringify({ POINTS: '32', terminals: [{ SEQUENCE: 1, BLOCK: 'OLD', ATTRIBUTES: 'TERM=1;ADDR=E0.0;DESC1=old' }] }) });
  const browser = await chromium.launch({ executablePath: process.env.KIV_CHROMIUM || '/usr/bin/chromium' });
  try {
    const page = await browser.newPage({ viewport: { width: 1366, height: 900 } });
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(url);
    await page.evaluate((t) => { location.hash = `#/m/${t[0]}/s/${t[1]}/t/${t[2]}/GR-DI32`; }, TYPE.map(encodeURIComponent));
    await page.locator('h1', { hasText: 'GR-DI32' }).waitFor();

    // The series rules and the texts the grid reads, from the page's own module.
    assert.deepEqual(await page.evaluate(async () => {
      const g = await import('/grid.js');
      return [[['E0.7', 1], ['%IX1.6', 3], ['1', 2], ['DI0', 1], ['DI007', 3], ['KL', 2]].map(([v, k]) => g.seriesValue(v, k)),
        ['A=1;B=x=y', '', 'A=1;', 'A=1;A=2', ' A=1', 'A'].map(g.parseAttributes), g.parseBlock('"a\tb"\tc\r\n"x""y"\t\n\tz\n')];
    }), [['E1.0', '%IX2.1', '3', 'DI1', 'DI010', 'KL'], [[['A', '1'], ['B', 'x=y']], [], null, null, null, null], [['a\tb', 'c'], ['x"y', ''], ['', 'z']]]);

    // Columns: SEQUENCE, BLOCK, then one per key of ATTRIBUTES.
    const rows = page.locator('table.terms tbody tr');
    const cell = (row, col) => rows.nth(row).locator('input').nth(col);
    const focused = (row, col) => cell(row, col).evaluate((el) => el === document.activeElement);
    assert.deepEqual(await page.locator('table.terms thead th').allInnerTexts(), ['SEQUENCE', 'BLOCK (≤ 255)', 'TERM', 'ADDR', 'DESC1', '']);

    // 32 rows pasted at the first BLOCK cell: one changes, 31 are added.
    const block = Array.from({ length: 32 }, (_, i) => `GR_TERM_IN\t${i + 1}\tX\tEingang ${i}`).join('\r\n') + '\r\n';
    await cell(0, 1).click();
    await cell(0, 1).evaluate((el, text) => {
      const data = new DataTransfer();
      data.setData('text/plain', text);
      el.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    }, block);
    await page.locator('#dialog').getByText('32 rows from the clipboard go in from row 1: 1 changed, 31 added.').waitFor();
    await page.locator('#dialog').getByRole('button', { name: 'Paste' }).click();

    // A series of bit addresses down the ADDR column.
    await cell(0, 3).fill('E0.0');
    await cell(31, 3).click({ modifiers: ['Shift'] });
    await page.getByRole('button', { name: 'Fill series' }).click();
    assert.deepEqual([await cell(8, 3).inputValue(), await cell(31, 3).inputValue()], ['E1.0', 'E3.7']);

    // Insert at row 6; Enter moves down; the last row to the top with Alt+Up.
    await cell(5, 1).click();
    await page.keyboard.press('Insert');
    await page.keyboard.type('GR_SPARE');
    await page.keyboard.press('Enter');
    assert.ok(await focused(6, 1));  // Enter moved down
    await cell(32, 1).click();
    for (let i = 0; i < 32; i++) await page.keyboard.press('Alt+ArrowUp');
    // An edit undone, and a cleared cell.
    await cell(1, 4).click();
    await page.keyboard.press('Delete');
    await page.keyboard.type('wrong');
    await page.keyboard.press('Control+z');
    assert.equal(await cell(1, 4).inputValue(), 'Eingang 0');
    await page.getByRole('button', { name: 'Save terminal rows' }).click();
    await page.locator('#status', { hasText: 'Terminal rows saved' }).waitFor();

    const shown = JSON.parse(execFileSync(kivplc, ['-c', db, 'show', ...TYPE, 'GR-DI32', '--json'], { encoding: 'utf8' }));
    const terms = shown.terminals.map((t) => [t.SEQUENCE, t.BLOCK, t.ATTRIBUTES]);
    const pasted = (i) => ['GR_TERM_IN', `TERM=${i + 1};ADDR=E${Math.floor(i / 8)}.${i % 8};DESC1=Eingang ${i}`];
    assert.equal(terms.length, 33);
    assert.deepEqual(terms[0], [1, ...pasted(31)]);
    assert.deepEqual(terms.slice(1, 6), [0, 1, 2, 3, 4].map((i) => [i + 2, ...pasted(i)]));
    assert.deepEqual(terms[6], [7, 'GR_SPARE', '']);
    assert.deepEqual(terms[32], [33, ...pasted(30)]);

    // SEQUENCE takes the catalogue's range, as the server serves it: below 1, not past the top.
    const save = async (result) => {
      await page.getByRole('button', { name: 'Save terminal rows' }).click();
      await page.locator('#status', { hasText: result }).waitFor();
    };
    await cell(0, 0).fill('32768');
    await save('Not saved');
    await page.getByText('SEQUENCE is a whole number from -32768 to 32767').waitFor();
    await cell(0, 0).fill('-32768');
    await cell(1, 0).fill('0');
    await save('Terminal rows saved');
    const firsts = JSON.parse(execFileSync(kivplc, ['-c', db, 'show', ...TYPE, 'GR-DI32', '--json'], { encoding: 'utf8' })).terminals;
    assert.deepEqual(firsts.slice(0, 3).map((t) => t.SEQUENCE), [-32768, 0, 3]);
    // A row inserted above the one at 0 takes 0, and that row moves on to 1.
    await cell(1, 1).click();
    await page.keyboard.press('Insert');
    assert.deepEqual(await Promise.all([1, 2, 3].map((i) => cell(i, 0).inputValue())), ['0', '1', '3']);
    await page.keyboard.press('Control+z');

    // A number field refuses a word unless kept as text; metric from inch.
    await page.locator('#f-POINTS').fill('acht');
    await page.getByText('POINTS: “acht” is not a whole number').waitFor();
    await page.getByRole('button', { name: 'Save module' }).click();
    await page.locator('#status', { hasText: 'Not saved' }).waitFor();
    await page.locator('#f-POINTS').fill('32');
    await page.getByLabel('BOX_LEFT', { exact: true }).fill('1.5');
    await page.getByRole('button', { name: 'Metric from inch' }).click();
    assert.equal(await page.getByLabel('METRIC_BOX_LEFT', { exact: true }).inputValue(), '38.1');

    // Duplicated under a new code, with every terminal row; the old code is refused.
    await page.getByRole('button', { name: 'Save module' }).click();
    await page.locator('#status', { hasText: /^Saved\.$/ }).waitFor();
    for (const [code, answer] of [['GR-DI32', 'nothing was copied'], ['GR-DI32B', null]]) {
      await page.getByRole('button', { name: 'Duplicate…' }).click();
      await page.locator('#dialog input').fill(code);
      await page.locator('#dialog input').press('Enter');
      if (answer) { await page.locator('#dialog').getByText(answer, { exact: false }).first().waitFor(); await page.keyboard.press('Escape'); }
    }
    await page.locator('h1', { hasText: 'GR-DI32B' }).waitFor();
    // Tab at a row's end goes on to the next row's first cell; Enter on the last
    // row (the copy's 33rd) adds one.
    await cell(0, 4).click();
    await page.keyboard.press('Tab');
    assert.ok(await focused(1, 0));
    await cell(32, 2).click();
    await page.keyboard.press('Enter');
    assert.deepEqual([await rows.count(), await focused(33, 2)], [34, true]);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    server.kill('SIGINT');
  }
}

main().then(() => console.log('browser grid session passed'), (e) => {
  console.error(e);
  process.exit(1);
});
