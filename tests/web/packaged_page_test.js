// The page as a package holds it, in headless Chromium: served from its directory alone, the demo
// runs an update to its success message, and every file the page asks for is there,
// none from elsewhere. The demo runs on virtual time, so the probe wait costs nothing.
//
// Usage: node tests/web/packaged_page_test.js DIR   (DIR: the unpacked ZIP's page)
'use strict';

const assert = require('assert');
const path = require('path');
const { serve, launchChromium, goldenLine } = require('./chromium');

const kRunLimitMs = 60000;

async function main(dir) {
  const server = await serve(dir);
  const origin = `http://localhost:${server.address().port}`;
  const browser = await launchChromium({ width: 1000, height: 900 });
  try {
    const page = await browser.context.newPage();
    const errors = [];
    const elsewhere = [];
    const missing = [];
    // A page that breaks ends the wait at once rather than at its limit.
    let broke;
    const broken = new Promise((resolve, reject) => { broke = reject; });
    broken.catch(() => {});
    page.on('pageerror', (error) => {
      errors.push(error.message);
      broke(error);
    });
    page.on('request', (request) => {
      const url = request.url();
      if (!url.startsWith(`${origin}/`) && !url.startsWith('data:')) elsewhere.push(url);
    });
    page.on('response', (response) => {
      if (response.status() !== 200) missing.push(`${response.url()} ${response.status()}`);
    });
    await page.goto(`${origin}/?demo&virtual-time`);
    await page.click('#sample-kit');
    await page.click('#update');
    await Promise.race([
      page.waitForSelector('#continue:not([disabled])', { timeout: kRunLimitMs }), broken]);
    const terminal = await page.evaluate(() => window.talveronPage.terminalText());
    assert.ok(terminal.split('\n').includes(goldenLine('success')), `the terminal shows:\n${terminal}`);
    assert.deepStrictEqual(errors, [], 'errors in the page');
    assert.deepStrictEqual(elsewhere, [], 'loaded from elsewhere');
    assert.deepStrictEqual(missing, [], 'not served');
  } finally {
    await browser.close();
    server.close();
  }
}

main(path.resolve(process.argv[2] || '.')).then(() => {
  console.log('ok   the packaged page: its demo updates the emulated device, all files its own');
}, (error) => {
  console.error(`FAIL the packaged page: ${error.message}`);
  process.exit(1);
});
