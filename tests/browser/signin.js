// Signing in to the editor of a catalogue on the test run's PostgreSQL
// server, over HTTPS with a certificate made for the run: a wrong password
// is refused on the page, a maintainer edits, a reader's page is read-only
// and says why, and signing out ends it.
//   node signin.js KIVPLC SOURCE-DIR OUT-DIR
'use strict';
const { chromium } = require('playwright-core');
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const assert = require('node:assert/strict');

const [kivplc, source, out] = process.argv.slice(2);
const server = fs.readFileSync(path.join(out, 'pg-test-server.uri'), 'utf8').trim();
const suffix = String(process.pid);
const schema = 'kivbrowser_' + suffix;
const uri = `${server}&schema=${schema}`;
const [maintainer, reader] = ['mona_' + suffix, 'rolf_' + suffix];
const password = 'correct horse';
const hba = path.join(fs.readFileSync(path.join(out, 'pg-test-server.dir'), 'utf8').trim(), 'data', 'pg_hba.conf');
const hbaBefore = fs.readFileSync(hba, 'utf8');

const certificates = fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'kivbrowser-'));
const [certificate, key] = [path.join(certificates, 'editor.crt'), path.join(certificates, 'editor.key')];
execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1', '-subj', '/CN=localhost', '-keyout', key, '-out', certificate], { stdio: 'ignore' });

const sql = (text) => execFileSync('psql', ['-X', '-q', '-v', 'ON_ERROR_STOP=1', '-d', server, '-c', text]);
const tool = (...args) => execFileSync(kivplc, ['-c', uri, ...args]);

async function startServer() {
  const serve = spawn(kivplc, ['serve', '-c', uri, '--sign-in', '--listen', '127.0.0.1:0', '--tls-cert', certificate, '--tls-key', key],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    let text = '';
    serve.stdout.on('data', (d) => { text += d; const m = /https:\/\/127\.0\.0\.1:\d+\/?\S*/.exec(text); if (m) resolve(m[0]); });
    serve.on('exit', (code) => reject(new Error(`kivplc serve stopped (${code}): ${text}`)));
    setTimeout(() => reject(new Error('kivplc serve printed no address: ' + text)), 15000);
  });
  return { serve, url };
}

async function main() {
  tool('init');
  tool('import', path.join(source, 'examples/sample-catalogue.json'));
  for (const p of [maintainer, reader]) sql(`CREATE ROLE ${p} LOGIN PASSWORD '${password}'`);
  tool('grant', maintainer, 'maintainer');
  tool('grant', reader, 'reader');
  fs.writeFileSync(hba, `local all ${maintainer},${reader} scram-sha-256\n` + hbaBefore);
  sql('SELECT pg_reload_conf()');
  const { serve, url } = await startServer();
  const browser = await chromium.launch({ executablePath: process.env.KIV_CHROMIUM || '/usr/bin/chromium' });
  try {
    const context = await browser.newContext({ ignoreHTTPSErrors: true });
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    const signIn = async (person, secret) => {
      await page.goto(url);
      await page.locator('#person').fill(person);
      await page.locator('#password').fill(secret);
      await page.getByRole('button', { name: 'Sign in' }).click();
    };

    await signIn(maintainer, 'wrong');
    await page.locator('#failure').waitFor();
    assert.equal(await page.locator('#password').inputValue(), '');

    await signIn(maintainer, password);
    await page.locator('#tree a', { hasText: "Kessler & O'Neil" }).waitFor();
    await page.locator('#person', { hasText: maintainer }).waitFor();
    assert.equal(await page.locator('#add-manufacturer').isVisible(), true);
    assert.equal(await page.locator('#readonly').isVisible(), false);
    assert.ok(!page.url().includes(password));
    const [cookie] = await context.cookies();
    assert.deepEqual([cookie.secure, cookie.httpOnly, cookie.sameSite], [true, true, 'Strict']);
    await page.locator('#sign-out').click();
    await page.locator('#signin').waitFor();

    await signIn(reader, password);
    await page.locator('#tree a', { hasText: "Kessler & O'Neil" }).waitFor();
    await page.locator('#readonly').waitFor();
    assert.equal(await page.locator('#readonly').getAttribute('title'), `the catalogue is read-only for ${reader}`);
    assert.equal(await page.locator('#add-manufacturer').isVisible(), false);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    serve.kill('SIGINT');
    fs.writeFileSync(hba, hbaBefore);
    fs.rmSync(certificates, { recursive: true, force: true });
    sql(`DROP SCHEMA IF EXISTS ${schema} CASCADE`);
    sql(`DROP OWNED BY ${maintainer}, ${reader} CASCADE`);
    const group = `postgres_${schema}`;
    sql(`DROP ROLE IF EXISTS ${maintainer}, ${reader}, ${group}_readers, ${group}_maintainers`);
  }
}

main().then(() => console.log('browser sign-in passed'), (e) => {
  console.error(e);
  process.exit(1);
});
