// Debian's headless Chromium driven by playwright-core (pinned in web/, installed by npm ci; no
// browser is ever downloaded), and a directory of static files served on localhost, a secure
// context, with the MIME types a static host gives them.
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const root = path.resolve(__dirname, '../..');
const { chromium } = require(path.join(root, 'web/node_modules/playwright-core'));

const kChromium = '/usr/bin/chromium';
const kFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'];

function serve(dir) {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
                  '.wasm': 'application/wasm' };
  const server = http.createServer((request, response) => {
    const name = path.basename(new URL(request.url, 'http://localhost').pathname) || 'index.html';
    const file = path.join(dir, name);
    if (!fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(name)] || 'text/plain' });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// A browser with a profile of its own; close() ends it and removes the profile.
async function launchChromium(viewport) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'talveron-web-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: kChromium, args: kFlags, headless: true, viewport });
  const close = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, close };
}

// Puts the Web MIDI stand-in (the page's emulated device, with the simulator's options) in place
// of navigator.requestMIDIAccess before the page's scripts run.
function standIn(options) {
  return `navigator.requestMIDIAccess = (request) => {
    window.midiRequests = (window.midiRequests || []).concat([request]);
    return EmulatedMidi.create(${JSON.stringify(options)}, window.talveronPage.clock)
      .then((emulated) => { window.talveronPage.lastMidi = emulated; return emulated.access; });
  };`;
}

// The program's texts as every check reads them (tests/golden/), and one without its line break.
const golden = (name) => fs.readFileSync(path.join(root, 'tests/golden', `${name}.txt`), 'latin1');
const goldenLine = (name) => golden(name).replace(/\n$/, '');

module.exports = { root, serve, launchChromium, standIn, golden, goldenLine };
