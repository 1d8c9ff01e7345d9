// The browser edition in headless Chromium (Debian's), driven by playwright-core: each case runs
// the page against a Web MIDI stand-in wired to the emulated device, and the native simulator
// with the same options; standard output must be equal byte for byte, and so must the wire logs
// but for the messages Web MIDI will not carry (System Exclusive with a status byte inside). The
// page's own cases (Web MIDI refused, Chromium's real Web MIDI with no device) follow, and the
// screenshots go to build-web/screenshots. Both sides run on virtual time.
//
// Usage: node tests/web/browser_test.js   (after make build and make web)
'use strict';

const assert = require('assert');
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { root, serve, launchChromium, standIn, golden, goldenLine } = require('./chromium');

const sim = path.join(root, 'build/talveron-update-sim');
const makeKit = path.join(root, 'build/make-sample-kit');
const pageDir = path.join(root, 'out/web');
const shots = path.join(root, 'build-web/screenshots');

const kRunLimitMs = 60000;

// The program's texts and its endings as every check reads them (tests/golden/).
const goldenDir = path.join(root, 'tests/golden');
const line = goldenLine;
const endings = fs.readFileSync(path.join(goldenDir, 'endings.tsv'), 'latin1').split('\n')
  .filter((row) => row && !row.startsWith('#')).map((row) => {
    const [outcome, , match, ending] = row.split('\t');
    const text = ending.replace(/\\n/g, '\n').replace(/\{([a-z-]+)\}/g, (all, name) => golden(name));
    return { outcome, match, text };
  });
// The outcome the table gives a transcript: the first ending it ends with before the prompt.
function endingOf(stdout) {
  const text = stdout.toString('latin1');
  const prompt = text.lastIndexOf(golden('prompt'));
  const body = prompt < 0 ? text : text.slice(0, prompt);
  const found = endings.find(({ match, text: ending }) => {
    if (match !== 'any-kit-name') return body.endsWith(ending);
    const [head, tail] = ending.split("'*.kit'");
    return body.endsWith(tail) && body.slice(0, -tail.length).includes(`${head}'`);
  });
  return found ? found.outcome : 'unknown';
}
const kKitBytes = 4096;

// Kits by what they hold. The sample is make-sample-kit's, the same bytes on every run.
function sampleKitText() {
  const file = path.join(os.tmpdir(), `talveron-web-kit-${process.pid}.kit`);
  execFileSync(makeKit, [file, String(kKitBytes)]);
  const text = fs.readFileSync(file);
  fs.unlinkSync(file);
  return text;
}
const sample = sampleKitText();
assert.match(sample.toString('latin1'), /^[0-9A-F]{5}/, 'the sample kit starts with hex digits');
// The first record's first payload byte changed (the sample's text is unbroken hex: its length
// field is the first four digits): its checksum no longer holds.
const badChecksum = Buffer.from(sample.toString('latin1').replace(/^(\S{4})(\S)/,
  (all, head, digit) => head + (digit === '0' ? '1' : '0')), 'latin1');
const kits = {
  sample: [{ name: 'Brevanto_sample.kit', bytes: sample }],
  none: [],
  wrongPrefix: [{ name: 'Firmware_sample.kit', bytes: sample }],
  badChecksum: [{ name: 'Brevanto_sample.kit', bytes: badChecksum }],
  empty: [{ name: 'Brevanto_empty.kit', bytes: Buffer.alloc(0) }],
};

// name, kit, the simulator's options (the stand-in takes the same), and how: the kit dropped on
// the page rather than picked, the page's own demo rather than the stand-in, or a kit the file
// stages refuse, for which the page asks the browser for no MIDI access.
const cases = [
  ['successful update', 'sample', []],
  ['CRC errors, then success', 'sample', ['--reply', '3=0x20/2'], { drop: true }],
  ['demo: damaged record, then success', 'sample', ['--reply', '3=0x21'], { demo: true }],
  ['silent device', 'sample', ['--silent-from', '5']],
  ['device of another family', 'sample', ['--identity', '0x44']],
  ['device still resetting', 'sample', ['--identity', '0x15']],
  ['probe B only', 'sample', ['--probes', 'B']],
  ['late verdicts', 'sample', ['--late', '2=3000', '--delay-ms', '20']],
  ['verdict past the answer time', 'sample', ['--late', '2=7000']],
  ['output unplugged', 'sample', ['--unplug-after', '6']],
  ['no device', 'sample', ['--device-port', 'none']],
  ['only Microsoft ports', 'sample', ['--in-ports', 'Microsoft MIDI In',
                                      '--out-ports', 'Microsoft GS Wavetable Synth',
                                      '--device-port', 'none']],
  ['no kit', 'none', [], { refused: true }],
  ['wrong prefix', 'wrongPrefix', [], { refused: true }],
  ['bad checksum', 'badChecksum', [], { refused: true }],
  ['empty kit', 'empty', [], { refused: true }],
];

function runSimulator(kit, options) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'talveron-web-sim-'));
  try {
    for (const file of kit) fs.writeFileSync(path.join(dir, file.name), file.bytes);
    const wire = path.join(dir, 'wire.log');
    const stdout = execFileSync(sim, [...options, '--virtual-time', 'yes', '--wire-log', wire],
                                { cwd: dir, input: '' });
    return { stdout, wire: fs.readFileSync(wire, 'latin1') };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// The lines of a wire log that Web MIDI carries: a System Exclusive message with a status byte
// between F0 and F7 is refused by the browser.
function carriedByWebMidi(wire) {
  return wire.split('\n').filter((line) => {
    const bytes = line.split(' ').filter(Boolean).map((b) => parseInt(b, 16));
    return bytes.slice(1, -1).every((b) => b < 0x80);
  }).join('\n');
}

// The same device, but probe A never reaches it, as from a page: the simulator's run whose wire
// log the page's must match.
function withoutProbeA(options) {
  const at = options.indexOf('--probes');
  const answered = at < 0 ? 'AB' : options[at + 1];
  const rest = options.filter((_, i) => at < 0 || (i !== at && i !== at + 1));
  // The simulator's Out port counts the one probe A it accepts before the device answers probe B.
  const unplug = rest.indexOf('--unplug-after');
  if (unplug >= 0) rest[unplug + 1] = String(Number(rest[unplug + 1]) + 1);
  return [...rest, '--probes', answered.replace('A', '') || 'none'];
}

async function openPage(context, origin, query, script) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  if (script) await page.addInitScript(script);
  await page.goto(`${origin}/${query}`);
  return { page, errors };
}

async function chooseKit(page, kit, drop) {
  if (kit.length === 0) return;
  if (drop) {
    const files = kit.map((file) => ({ name: file.name,
                                       base64: Buffer.from(file.bytes).toString('base64') }));
    await page.evaluate((dropped) => {
      const transfer = new DataTransfer();
      for (const file of dropped) {
        const bytes = Uint8Array.from(atob(file.base64), (c) => c.charCodeAt(0));
        transfer.items.add(new File([bytes], file.name));
      }
      document.querySelector('#drop-zone').dispatchEvent(
        new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, files);
  } else {
    await page.setInputFiles('#kit-input', kit.map((file) => ({
      name: file.name, mimeType: 'application/octet-stream', buffer: Buffer.from(file.bytes) })));
  }
  await page.waitForFunction((count) => document.querySelector('#kit-chosen').textContent
    .startsWith('Chosen:') || count === 0, kit.length);
}

// Update from the keyboard, then any key for the key press the program waits for at the end.
async function runToEnd(page) {
  await page.focus('#update');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#continue:not([disabled])', { timeout: kRunLimitMs });
  await page.keyboard.press('x');
  await page.waitForFunction(() => window.talveronPage.lastRun, null, { timeout: kRunLimitMs });
  return page.evaluate(() => ({
    stdout: Array.from(window.talveronPage.lastRun.transcript),
    wire: window.talveronPage.lastMidi ? window.talveronPage.lastMidi.wireLog() : '',
    requests: window.midiRequests,
    outcome: document.querySelector('#outcome').textContent,
    ending: window.talveronPage.lastEnding,
    terminal: window.talveronPage.terminalText(),
  }));
}

async function screenshot(page, name, mustShow) {
  await page.evaluate(() => document.querySelector('#terminal').scrollIntoView());
  await page.waitForTimeout(200);
  const shown = await page.evaluate(() => document.body.innerText);
  for (const text of mustShow) assert(shown.includes(text), `${name} screenshot lacks: ${text}`);
  await page.screenshot({ path: path.join(shots, `${name}.png`), fullPage: true });
}

async function main() {
  fs.mkdirSync(shots, { recursive: true });
  const server = await serve(pageDir);
  const origin = `http://localhost:${server.address().port}`;
  const browser = await launchChromium({ width: 1000, height: 900 });
  const { context } = browser;
  const failures = [];
  const check = async (name, body) => {
    const started = Date.now();
    try {
      await body();
      console.log(`ok   ${name} (${Date.now() - started} ms)`);
    } catch (error) {
      failures.push(name);
      console.log(`FAIL ${name}: ${error.message}`);
    }
  };
  try {
    const first = await context.newPage();
    const cdp = await context.newCDPSession(first);
    // A grant must name both: MIDI, and MIDI with System Exclusive.
    await cdp.send('Browser.grantPermissions', { origin, permissions: ['midi', 'midiSysex'] });

    for (const [name, kitName, options, how = {}] of cases) {
      await check(name, async () => {
        const expected = runSimulator(kits[kitName], options);
        const probeAUnheard = runSimulator(kits[kitName], withoutProbeA(options));
        const { page, errors } = how.demo
          ? await openPage(context, origin,
                           `?demo&virtual-time&device=${encodeURIComponent(options.join(' '))}`)
          : await openPage(context, origin, '?virtual-time', standIn(options));
        await chooseKit(page, kits[kitName], how.drop);
        const run = await runToEnd(page);
        assert.deepStrictEqual(errors, []);
        assert.strictEqual(Buffer.from(run.stdout).toString('latin1'),
                           expected.stdout.toString('latin1'), 'standard output');
        assert.strictEqual(carriedByWebMidi(run.wire), carriedByWebMidi(probeAUnheard.wire), 'wire');
        // The page reads the ending by the same table as the checks, and every case has one.
        assert.notStrictEqual(endingOf(expected.stdout), 'unknown', 'an ending of the table');
        assert.strictEqual(run.ending, endingOf(expected.stdout), 'ending');
        // Asked for once, with System Exclusive; the demo and a refused kit ask for nothing.
        assert.deepStrictEqual(run.requests,
                               how.demo || how.refused ? undefined : [{ sysex: true }]);
        if (name === 'successful update') {
          await screenshot(page, 'success', [line('success'), 'Update complete',
                                             'Progress 100%']);
        } else if (name === 'silent device') {
          await screenshot(page, 'failure', [line('not-responding'),
                                             'stopped answering during the update',
                                             'Progress 25%']);
        }
        await page.close();
      });
    }

    // A keyboard listed first: preselected, as a run with no device named takes it; the
    // Brevanto chosen on one side is chosen on the other, and the run is the simulator's with
    // that port named.
    await check('two devices, the second chosen', async () => {
      const options = ['--in-ports', 'USB Keyboard,Brevanto MIDI',
                       '--out-ports', 'USB Keyboard,Brevanto MIDI'];
      const expected = runSimulator(kits.sample, [...options, '--port', '1']);
      const probeAUnheard = runSimulator(kits.sample, [...withoutProbeA(options), '--port', '1']);
      const { page, errors } = await openPage(context, origin, '?virtual-time', standIn(options));
      await chooseKit(page, kits.sample);
      await page.click('#find-devices');
      await page.waitForSelector('#device-picker:not([hidden])');
      assert.strictEqual(await page.inputValue('#midi-in'), 'emulated-input-0');
      assert.strictEqual(await page.inputValue('#midi-out'), 'emulated-output-0');
      await page.selectOption('#midi-in', 'emulated-input-1');
      assert.strictEqual(await page.inputValue('#midi-out'), 'emulated-output-1');
      assert.match(await page.textContent('#plan'),
                   /sends Brevanto_sample\.kit to MIDI Out 1: Brevanto MIDI, and listens on MIDI In 1/);
      const run = await runToEnd(page);
      assert.deepStrictEqual(errors, []);
      assert.strictEqual(Buffer.from(run.stdout).toString('latin1'),
                         expected.stdout.toString('latin1'), 'standard output');
      assert.strictEqual(carriedByWebMidi(run.wire), carriedByWebMidi(probeAUnheard.wire), 'wire');
      await screenshot(page, 'two-devices', ['1: Brevanto MIDI', 'Update complete']);
      await page.close();
    });

    // Two kits dropped at once: refused, and the one chosen before stays.
    await check('several kits at once', async () => {
      const { page, errors } = await openPage(context, origin, '?virtual-time', standIn([]));
      await chooseKit(page, kits.sample);
      await chooseKit(page, [{ name: 'Brevanto_v1.kit', bytes: sample },
                             { name: 'Brevanto_v2.kit', bytes: sample }], true);
      await page.waitForSelector('#problem:not([hidden])');
      assert.match(await page.textContent('#problem'), /2 files were given/);
      assert.strictEqual(await page.textContent('#kit-chosen'), 'Chosen: Brevanto_sample.kit');
      assert.deepStrictEqual(errors, []);
      await page.close();
    });

    // Chromium's own Web MIDI, granted, where it finds no MIDI system (no ALSA sequencer here):
    // it refuses access with InvalidStateError, and the page says so without running.
    await check('Chromium Web MIDI without a MIDI system', async () => {
      const { page, errors } = await openPage(context, origin, '');
      await chooseKit(page, kits.sample);
      await page.click('#update');
      await page.waitForSelector('#problem:not([hidden])', { timeout: kRunLimitMs });
      assert.deepStrictEqual(errors, []);
      assert.match(await page.textContent('#problem'), /could not start MIDI on this computer/);
      assert.strictEqual(await page.evaluate(() => window.talveronPage.lastRun), null);
      await page.close();
    });

    // A browser without Web MIDI (Safari, Firefox without its add-on, a page over plain http).
    await check('no Web MIDI in the browser', async () => {
      const { page, errors } = await openPage(context, origin, '',
                                              'delete Navigator.prototype.requestMIDIAccess;');
      await chooseKit(page, kits.sample);
      await page.click('#update');
      await page.waitForSelector('#problem:not([hidden])', { timeout: kRunLimitMs });
      assert.deepStrictEqual(errors, []);
      assert.match(await page.textContent('#problem'), /cannot reach MIDI devices \(no Web MIDI\)/);
      assert.strictEqual(await page.evaluate(() => window.talveronPage.lastRun), null);
      await page.close();
    });

    // At phone width the page fits the screen, the terminal view scrolling inside it.
    await check('phone width', async () => {
      const page = await context.newPage();
      await page.setViewportSize({ width: 375, height: 800 });
      await page.goto(`${origin}/?demo&virtual-time`);
      await page.click('#sample-kit');
      await page.click('#update');
      await page.waitForSelector('#continue:not([disabled])', { timeout: kRunLimitMs });
      assert.strictEqual(await page.evaluate(() => document.documentElement.scrollWidth), 375);
      await screenshot(page, 'phone', [line('success'), 'Update complete']);
      await page.close();
    });

    await check('Web MIDI refused', async () => {
      await cdp.send('Browser.setPermission', { origin, setting: 'denied',
                                                permission: { name: 'midi', sysex: true } });
      const { page, errors } = await openPage(context, origin, '');
      await chooseKit(page, kits.sample);
      await page.click('#update');
      await page.waitForSelector('#problem:not([hidden])', { timeout: kRunLimitMs });
      assert.deepStrictEqual(errors, []);
      assert.strictEqual(await page.evaluate(() => window.talveronPage.lastRun), null);
      await screenshot(page, 'refused', ['was not allowed', 'site settings',
                                         'The update did not start.']);
      await page.close();
    });
  } finally {
    await browser.close();
    server.close();
  }
  if (failures.length > 0) {
    console.log(`${failures.length} failed: ${failures.join(', ')}`);
    process.exit(1);
  }
  console.log(`all passed; screenshots in ${path.relative(root, shots)}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
