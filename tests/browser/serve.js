// What both browser sessions start from: a fresh catalogue file made from the
// sample document (styles 5 to 9 not defined) and `kivplc serve` on it,
// listening on a free port of loopback.
'use strict';
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

async function startServer(kivplc, source, db) {
  fs.rmSync(db, { force: true });
  execFileSync(kivplc, ['init', db]);
  const sample = JSON.parse(fs.readFileSync(path.join(source, 'examples/sample-catalogue.json'), 'utf8'));
  sample.styles = sample.styles.filter((s) => s.STYLE <= 4);  // 5 to 9 not defined
  fs.writeFileSync(db + '.json', JSON.stringify(sample));
  execFileSync(kivplc, ['-c', db, 'import', db + '.json']);
  const server = spawn(kivplc, ['serve', '-c', db, '--listen', '127.0.0.1:0'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve, reject) => {
    let text = '';
    server.stdout.on('data', (d) => { text += d; const m = /http:\/\/127\.0\.0\.1:\d+\/?\S*/.exec(text); if (m) resolve(m[0]); });
    server.on('exit', (code) => reject(new Error(`kivplc serve stopped (${code}): ${text}`)));
    setTimeout(() => reject(new Error('kivplc serve printed no address: ' + text)), 15000);
  });
  return { server, url };
}

module.exports = { startServer };
