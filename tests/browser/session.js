// A maintainer's session in the catalogue editor, in Debian's headless Chromium:
// find a module, change its description, meet a terminal row's column
// width and the stale-save refusal; add, rename and remove index entries,
// import a document and download the export; undo a removal from Recent
// changes and a save from the module's history.
//   node session.js KIVPLC SOURCE-DIR OUT-DIR
'use strict';
const { chromium } = require('playwright-core');
const { execFileSync } = require('node:child_process');
const { startServer } = require('./serve.js');
const fs = require('node:fs');
const path = require('node:path');
const assert = require('node:assert/strict');

const [kivplc, source, out] = process.argv.slice(2);
const db = path.join(out, 'browser-catalogue.db');
const HOSTILE = 'Relay card "><img src=x onerror="window.pwned=1"><script>window.pwned=1</script>';

async function main() {
  const { server, url } = await startServer(kivplc, source, db);
  const browser = await chromium.launch({ executablePath: process.env.KIV_CHROMIUM || '/usr/bin/chromium' });
  try {
    const context = await browser.newContext({ viewport: { width: 1366, height: 768 } });
    const errors = [];
    const dialogs = [];
    const page = await context.newPage();
    // Leaving a page with unsaved edits asks first; the session says yes.
    // A script or style sheet the browser refused (its type under nosniff, or
    // the content security policy) is an error too.
    const watch = (p) => p.on('pageerror', (e) => errors.push(e.message)).on('dialog', (d) => { dialogs.push(d.message()); d.accept(); })
      .on('console', (m) => /MIME type|Content Security Policy/.test(m.text()) && errors.push(m.text()));
    const opened = (p = page) => p.locator('h1', { hasText: 'KX-DI16' }).waitFor();
    const reload = async () => { await page.reload(); await opened(); };
    const status = (p, text) => p.locator('#status', { hasText: text }).waitFor();
    watch(page);

    // Open the page: the tree and the catalogue's summary.
    await page.goto(url);
    await page.locator('#tree a', { hasText: "Kessler & O'Neil" }).waitFor();

    // Find by part of the code, as one types; Enter opens the first match.
    await page.locator('#find').pressSequentially('x-di16', { delay: 40 });
    // The answer to the last keystroke: its best match selected, ready for Enter.
    await page.locator('#find-results li[aria-selected=true] .code', { hasText: /^KX-DI16$/ }).waitFor();
    await page.keyboard.press('Enter');
    await opened();
    const moduleUrl = page.url();
    assert.match(moduleUrl, /#\/m\/.+\/s\/KX200\/t\/Digital%20Input\/KX-DI16$/);

    // Change the description (one that would run, were it treated as markup) and save.
    await page.locator('#f-DESCRIPTION').fill(HOSTILE);
    await page.keyboard.press('Control+s');
    await status(page, 'Saved');
    await reload();
    assert.equal(await page.locator('#f-DESCRIPTION').inputValue(), HOSTILE);
    assert.equal(await page.locator('.head .sub').innerText(), HOSTILE);

    // Back to the type: the list shows the new description as text.
    await page.locator('.crumbs a', { hasText: 'Digital Input' }).click();
    await page.locator('td', { hasText: HOSTILE }).waitFor();
    await page.goBack();
    await opened();

    // (Terminal rows added, moved and saved: grid.js.)
    const rows = page.locator('table.terms tbody tr');
    await rows.last().scrollIntoViewIfNeeded();

    // An over-long value is refused next to its field before anything is sent.
    const block = rows.last().locator('td.block input');
    await block.fill('B'.repeat(255));
    await block.press('End');
    await block.pressSequentially('XY');
    await rows.last().getByText('BLOCK holds at most 255 characters').waitFor();
    assert.equal((await block.inputValue()).length, 255);

    // Two pages edit the module; the second save of a stale copy is refused with
    // the current values, and what its user typed stays in the form.
    await reload();
    const other = await context.newPage();
    watch(other);
    await other.goto(moduleUrl);
    await opened(other);
    const save = (p, text) => p.locator('#f-DESCRIPTION').fill(text).then(() => p.getByRole('button', { name: 'Save module' }).click());
    await save(other, 'Changed in the second tab');
    await status(other, 'Saved');
    await save(page, 'Changed in the first tab');
    const refusal = page.locator('.notice.bad', { hasText: 'someone else changed' });
    await refusal.waitFor();
    assert.match(await refusal.innerText(), /Changed in the second tab/);
    assert.equal(await page.locator('#f-DESCRIPTION').inputValue(), 'Changed in the first tab');

    // The styles side by side, each with its sketch.
    await page.getByRole('button', { name: 'Discard mine, show theirs' }).click();
    await page.locator('.bar a', { hasText: 'Styles' }).click();
    await page.locator('section.style svg').first().waitFor();
    // Left untouched, the page (with styles not defined) lets the user go without asking.
    const asked = dialogs.length;
    await page.locator('.brand').click();
    await page.getByRole('button', { name: 'Add manufacturer' }).waitFor();
    assert.equal(dialogs.length, asked);

    // A manufacturer that a kivplc process adds shows on the next page load.
    execFileSync(kivplc, ['-c', db, 'add', 'manufacturer', 'Added Elsewhere']);
    await page.reload();
    await page.locator('#tree a', { hasText: 'Added Elsewhere' }).waitFor();

    // The index: a manufacturer, its series and a type added; the series renamed.
    const dialog = page.locator('#dialog');
    const named = async (button, name) => {
      await page.getByRole('button', { name: button, exact: true }).click();
      await dialog.locator('input').fill(name);
      await dialog.locator('input').press('Enter');
      await page.locator('h1', { hasText: name }).waitFor();
    };
    await page.locator('.brand').click();
    await named('Add manufacturer', 'Brandt Automation');
    await named('Add series', 'BA-1');
    await named('Add type', 'Relay Output');
    await page.locator('.crumbs a', { hasText: 'BA-1' }).click();
    await named('Rename', 'BA-2');

    // A document imported into the new type, then the export downloaded with it.
    const doc = { format: 'kivplc-catalogue', version: 1, manufacturers: [{ name: 'Brandt Automation', series: [{ name: 'BA-2',
      types: [{ name: 'Relay Output', modules: [{ CODE: 'BA-RO8', POINTS: '8', DESCRIPTION: '8 relay outputs',
        terminals: [{ SEQUENCE: 1, BLOCK: 'BA_TERM', ATTRIBUTES: 'TERM=1' }] }] }] }] }] };
    await page.locator('#import').setInputFiles({ name: 'brandt.json', mimeType: 'application/json', buffer: Buffer.from(JSON.stringify(doc)) });
    await dialog.getByText('brandt.json: 1 module added.').waitFor();
    await dialog.getByRole('button', { name: 'Close' }).click();
    const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#export').click()]);
    const exported = JSON.parse(fs.readFileSync(await download.path(), 'utf8'));
    const brandt = exported.manufacturers.find((m) => m.name === 'Brandt Automation');
    assert.deepEqual(brandt.series[0].types[0].modules.map((m) => [m.CODE, m.terminals.length]), [['BA-RO8', 1]]);

    // Removing the manufacturer says first what goes with it.
    await page.locator('#tree a', { hasText: 'Brandt Automation' }).click();
    await page.getByRole('button', { name: 'Remove' }).click();
    await dialog.getByText('This also removes 1 type, 1 module, 1 terminal row.').waitFor();
    await dialog.getByRole('button', { name: 'Remove' }).click();
    await status(page, 'Removed');
    assert.equal(await page.locator('#tree a', { hasText: 'Brandt Automation' }).count(), 0);

    // Recent changes: the removal, newest first, undone with its manufacturer, type and module.
    await page.locator('.tools a', { hasText: 'Recent changes' }).click();
    const newest = page.locator('ol.history > li').first();
    await newest.getByText('editor: index/remove').waitFor();
    await newest.getByRole('button', { name: 'Undo' }).click();
    await status(page, 'Undone');
    await page.locator('#tree a', { hasText: 'Brandt Automation' }).waitFor();

    // A module's history beside it: the description saved earlier, undone there.
    await page.locator('#find').fill('KX-DI16');
    await page.locator('#find-results li[aria-selected=true] .code', { hasText: /^KX-DI16$/ }).waitFor();
    await page.keyboard.press('Enter');
    await opened();
    const saved = page.locator('.module-history ol.history > li', { hasText: 'DESCRIPTION' }).first();
    await saved.getByRole('button', { name: 'Undo' }).click();
    await status(page, 'Undone');

    assert.deepEqual(errors, []);
    assert.equal(await page.evaluate(() => window.pwned), undefined);
  } finally {
    await browser.close();
    server.kill('SIGINT');
  }
}

main().then(() => console.log('browser session passed'), (e) => {
  console.error(e);
  process.exit(1);
});
