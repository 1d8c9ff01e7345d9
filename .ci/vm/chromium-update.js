// Runs in the guest, chrooted like guest-wine.sh: the page in Chromium with its own Web MIDI,
// which reaches brevanto-device on sequencer ports through Chromium's ALSA backend. One browser
// and one page for every case; each case starts its device, presses Update and any key at the
// end, and keeps the transcript the page's program printed. Nothing here decides pass or fail.
//
// Usage: node chromium-update.js PAGE_DIR KIT DEVICE OUT CASE=OPTIONS...
//   (OPTIONS: the device's, space-separated; results as OUT/chromium-CASE.*, times in OUT/times)
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');
const { serve, launchChromium } = require('../../tests/web/chromium');

const [pageDir, kit, device, out, ...cases] = process.argv.slice(2);
// A run under emulation: the page's start, the probes' waits and a retried record's silent one.
const kRunLimitMs = 150000;

const seconds = (since) => ((Date.now() - since) / 1000).toFixed(2);
const time = (name, since) => fs.appendFileSync(path.join(out, 'times'), `${name} ${seconds(since)}\n`);
const note = (text) => fs.appendFileSync(path.join(out, 'chromium-notes'), `${text}\n`);

// The device of one case, resolved once it says it listens.
function startDevice(name, options) {
  const log = path.join(out, `${name}.device`);
  const child = spawn(device, ['--exit-after', '300', '--received-log', path.join(out, `${name}.received`),
                               '--flashed', path.join(out, `${name}.flashed`), ...options],
                      { stdio: ['ignore', fs.openSync(log, 'w'), 'inherit'] });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  return new Promise((resolve, reject) => {
    const started = Date.now();
    const poll = setInterval(() => {
      if (fs.readFileSync(log, 'latin1').includes('listening')) {
        clearInterval(poll);
        resolve({ stop: () => { child.kill(); return exited; } });
      } else if (child.exitCode !== null || Date.now() - started > 30000) {
        clearInterval(poll);
        reject(new Error(`${name}: the device did not start`));
      }
    }, 100);
  });
}

// The page, loaded once: under emulation a load takes about a minute. A second update from the
// same page is what a user with two devices does.
async function openPage(context, origin) {
  const started = Date.now();
  const page = await context.newPage();
  page.on('pageerror', (error) => note(`page error: ${error.message}`));
  // What the page loaded and said, with the time since the load began, for a slow guest.
  page.on('console', (message) => console.log(`${seconds(started)} console: ${message.text()}`));
  page.on('requestfinished', (request) => console.log(`${seconds(started)} loaded ${request.url()}`));
  page.on('requestfailed', (request) => console.log(`${seconds(started)} failed ${request.url()}`));
  await page.goto(`${origin}/`);
  await page.setInputFiles('#kit-input', kit);
  await page.waitForFunction(() => document.querySelector('#kit-chosen').textContent
    .startsWith('Chosen:'));
  time('chromium-page', started);
  return page;
}

async function runCase(page, name, options) {
  const started = Date.now();
  const played = await startDevice(name, options);
  try {
    await page.evaluate(() => { window.talveronPage.lastRun = null; });
    await page.click('#update');
    // Either the run's end (the key prompt) or the page's plain-words problem.
    await page.waitForSelector('#continue:not([disabled]), #problem:not([hidden])');
    if (await page.isVisible('#problem')) {
      note(`${name}: the page says: ${await page.textContent('#problem')}`);
      return;
    }
    await page.keyboard.press('x');
    await page.waitForFunction(() => window.talveronPage.lastRun);
    const transcript = await page.evaluate(() => Array.from(window.talveronPage.lastRun.transcript));
    fs.writeFileSync(path.join(out, `${name}.out`), Buffer.from(transcript));
  } finally {
    await played.stop();
    time(name, started);
  }
}

async function main() {
  const server = await serve(pageDir);
  const origin = `http://localhost:${server.address().port}`;
  let started = Date.now();
  const browser = await launchChromium({ width: 1000, height: 900 });
  try {
    // Under emulation loading the page alone can take longer than the driver's 30 s default.
    browser.context.setDefaultTimeout(kRunLimitMs);
    const first = await browser.context.newPage();
    const cdp = await browser.context.newCDPSession(first);
    // A grant must name both: MIDI, and MIDI with System Exclusive.
    await cdp.send('Browser.grantPermissions', { origin, permissions: ['midi', 'midiSysex'] });
    time('chromium-start', started);
    const page = await openPage(browser.context, origin);
    for (const item of cases) {
      const at = item.indexOf('=');
      const name = `chromium-${item.slice(0, at)}`;
      await runCase(page, name, item.slice(at + 1).split(' ').filter(Boolean))
        .catch((error) => note(`${name}: ${error.message.split('\n')[0]}`));
    }
  } finally {
    started = Date.now();
    await browser.close();
    server.close();
    time('chromium-close', started);
  }
}

main().catch((error) => {
  note(`chromium: ${error.message.split('\n')[0]}`);
  process.exit(1);
});
