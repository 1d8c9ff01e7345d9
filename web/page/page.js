// The page: the kit file, checked by the program's own file stages when it is picked, the MIDI
// access asked for on the user's click, one run of the program per Update, its console in a
// terminal view, its percentage as a progress bar, its waits as a line of their own, and its
// ending in plain words. ?demo runs against the emulated device (&device=OPTIONS: the simulator's
// device options, space-separated); &virtual-time puts the run on a clock that moves only when
// the program pauses.
'use strict';

(() => {
  const params = new URLSearchParams(location.search);
  const demo = params.has('demo');
  const clock = params.has('virtual-time') ? TalveronHost.virtualClock() : TalveronHost.realClock();
  // A MIDIAccess request the user does not answer ends here, so the page never waits for good.
  const kAccessAnswerLimitMs = 120000;
  const kSampleKitBytes = 4096;
  // Screen readers hear the progress in steps of this many percent, not at every record.
  const kProgressSaidStep = 10;
  // The terminal keeps the console's 80 columns where they fit, and wraps at no fewer than this.
  const kMostColumns = 80;
  const kFewestColumns = 20;
  const kPhoneWidth = 480;
  const kPrompt = TalveronPrompt;

  const $ = (id) => document.getElementById(id);
  const ui = {
    problem: $('problem'), kitInput: $('kit-input'), dropZone: $('drop-zone'),
    kitChosen: $('kit-chosen'), kitRefused: $('kit-refused'), sampleKit: $('sample-kit'),
    deviceFound: $('device-found'), update: $('update'), next: $('continue'),
    runStatus: $('run-status'), progress: $('progress'), percent: $('percent'),
    waiting: $('waiting'), hiddenTab: $('hidden-tab'), progressSaid: $('progress-said'),
    outcome: $('outcome'), terminalBox: $('terminal'), logText: $('log-text'),
    copyLog: $('copy-log'), findDevices: $('find-devices'), picker: $('device-picker'),
    plan: $('plan'),
  };

  // A Windows console starts a new line at a line feed alone: convertEol.
  const narrow = () => window.innerWidth < kPhoneWidth;
  const terminal = new Terminal({ cols: kMostColumns, rows: 16, convertEol: true,
                                  fontSize: narrow() ? 11 : 13, scrollback: 1000 });
  terminal.open(ui.terminalBox);
  // The terminal is a read-only log: its input area is no stop of its own, and Tab leaves it.
  terminal.textarea.tabIndex = -1;
  terminal.attachCustomKeyEventHandler((event) => event.key !== 'Tab');

  // As many columns as the box shows, so that at phone width lines wrap rather than being cut.
  function fitTerminal() {
    const screen = ui.terminalBox.querySelector('.xterm-screen');
    const cell = screen ? screen.getBoundingClientRect().width / terminal.cols : 0;
    if (!(cell > 0)) return;
    const style = getComputedStyle(ui.terminalBox);
    const room = ui.terminalBox.clientWidth - parseFloat(style.paddingLeft) -
                 parseFloat(style.paddingRight);
    const cols = Math.max(kFewestColumns, Math.min(kMostColumns, Math.floor(room / cell)));
    if (cols !== terminal.cols) terminal.resize(cols, terminal.rows);
  }
  fitTerminal();
  window.addEventListener('resize', fitTerminal);

  const kScrollKeys = { ArrowUp: -1, ArrowDown: 1, PageUp: -15, PageDown: 15 };
  ui.terminalBox.addEventListener('keydown', (event) => {
    if (event.target !== ui.terminalBox || !(event.key in kScrollKeys)) return;
    event.preventDefault();
    terminal.scrollLines(kScrollKeys[event.key]);
  });

  let kitFiles = [];
  // What the program's file stages said of the chosen kit: a promise of the ending, or null.
  let kitCheck = null;
  let keyWaiter = null;
  let running = false;
  const page = {
    lastRun: null, lastEnding: null, lastMidi: null, clock,
    // The terminal's lines as shown, a line wrapped at the view's edge joined again, trailing
    // blanks cut: for the tests and the copyable log.
    terminalText() {
      const buffer = terminal.buffer.active;
      const lines = [];
      for (let i = 0; i < buffer.length; ++i) {
        const line = buffer.getLine(i);
        const text = line.translateToString(true);
        if (line.isWrapped && lines.length) lines[lines.length - 1] += text;
        else lines.push(text);
      }
      while (lines.length && lines[lines.length - 1] === '') lines.pop();
      return lines.join('\n');
    },
  };
  window.talveronPage = page;

  function showProblem(text) {
    ui.problem.textContent = text;
    ui.problem.hidden = !text;
  }

  function setProgress(percent) {
    ui.progress.value = percent;
    ui.progress.textContent = `${percent}%`;
    ui.percent.textContent = `${percent}%`;
    const said = percent - (percent % kProgressSaidStep);
    const words = `Update ${said}% done`;
    if (said > 0 && ui.progressSaid.textContent !== words) ui.progressSaid.textContent = words;
  }

  function setOutcome(text, kind) {
    ui.outcome.textContent = text;
    ui.outcome.className = kind || '';
  }

  function showLog() {
    ui.logText.textContent = page.terminalText();
  }

  // What each of the program's endings means to the user, by its outcome in endings.js (made from
  // the checks' table of endings); `during` where the device was left with part of the image. The
  // words say no more than the program did.
  const kStillInUpdateMode = 'The device now holds part of an image and stays in update mode: ' +
    'leave it switched on and connected, and press Update to send the whole kit again.';
  const kNoDevice = 'No MIDI device found. Connect the Brevanto (switched on, USB or MIDI cable ' +
    'in), then press Update again.';
  const meanings = {
    success: { words: 'Update complete: the device took every record of the kit.' },
    restarted: {
      words: 'Update complete: the device said it restarts now. Wait until it is ready before ' +
             'you switch it off or unplug it.' },
    'kit-not-found': {
      words: 'No kit file: choose or drop the Brevanto kit file, then press Update again.' },
    'not-for-brevanto': {
      words: 'This kit is not for the Brevanto: the name of a Brevanto kit begins with ' +
             '"Brevanto". Choose the Brevanto kit.' },
    'kit-unreadable': { words: 'The kit file could not be read. Choose it again.' },
    'kit-refused': {
      words: 'The kit file is damaged: its records do not check out. Download it again.' },
    'no-midi-in': { words: kNoDevice },
    'no-midi-out': {
      words: kNoDevice, during: `The device was lost during the update. ${kStillInUpdateMode}` },
    'not-responding': {
      words: 'The device did not answer. Check that it is switched on and that both MIDI ' +
             'cables are in, then press Update again.',
      during: `The device stopped answering during the update. ${kStillInUpdateMode}` },
    resetting: { words: 'The device is still resetting. Wait a moment, then press Update again.' },
    'not-matched': {
      words: 'The device answered as another kind of device than this kit is for. Use the kit ' +
             'for your device.' },
    'update-error': {
      words: `The device refused a record again and again, and the update stopped. ` +
             kStillInUpdateMode },
  };
  // A message whose kit name may be any: the table's '*.kit' stands for it.
  const anyKitName = (said) => new RegExp(said.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')
    .replace("'\\*\\.kit'", "'.*'") + '$');
  const endings = TalveronEndings.map((ending) => ({
    outcome: ending.outcome, kind: ending.kind === 'success' ? 'success' : undefined,
    kit: ending.kind === 'kit', said: ending.anyKitName ? anyKitName(ending.said) : ending.said,
    ...meanings[ending.outcome],
  }));
  const kUnknownEnding = { outcome: 'unknown',
                           words: 'The update ended; its console text is above.' };

  // The ending of a run from its standard output: the message that stands last before the
  // prompt, and whether the transfer had begun (its progress line printed), which leaves the
  // device with part of the image when the device is lost or falls silent.
  function endingOf(text) {
    const prompt = text.lastIndexOf(kPrompt);
    const body = prompt < 0 ? text : text.slice(0, prompt);
    const found = endings.find((ending) => (typeof ending.said === 'string'
      ? body.endsWith(ending.said) : ending.said.test(body)));
    if (!found) return kUnknownEnding;
    // The message as the program printed it, for the page to quote.
    const message = (typeof found.said === 'string' ? found.said : body.match(found.said)[0])
      .trim();
    if (found.during && body.includes('Transferring..')) {
      return { ...found, message, words: found.during };
    }
    return { ...found, message };
  }

  function outcomeClass(ending) {
    return ending.kind || 'failure';
  }

  // The program's own run with no MIDI port at all: its file stages judge the kit, and a kit they
  // pass ends at the missing MIDI In. Nothing is asked of the browser.
  async function checkKit(files) {
    const decoder = new TextDecoder();
    let text = '';
    await TalveronHost.runUpdate({
      access: null, files, clock: TalveronHost.virtualClock(),
      output: (bytes) => { text += decoder.decode(bytes, { stream: true }); },
      waitForKey: (wakeUp) => queueMicrotask(wakeUp),
    });
    return { ending: endingOf(text) };
  }

  // One kit at a time: the update sends one kit to one device, and a new pick or drop replaces
  // the last.
  async function takeFiles(fileList) {
    if (running) return;
    if (fileList.length > 1) {
      showProblem(`${fileList.length} files were given, and the update sends one kit file to ` +
                  'one device: choose or drop only the kit for your Brevanto.');
      return;
    }
    if (fileList.length === 0) return;
    showProblem('');
    const files = await Promise.all(Array.from(fileList, async (file) => ({
      name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) })));
    if (running) return;
    kitFiles = files;
    ui.kitChosen.textContent = `Chosen: ${kitFiles[0].name}`;
    ui.kitRefused.hidden = true;
    showPlan();
    const check = checkKit(kitFiles);
    kitCheck = check;
    const { ending } = await check;
    if (kitCheck !== check || !ending.kit) return;
    ui.kitRefused.textContent = `The program refuses this kit: "${ending.message}" ${ending.words}`;
    ui.kitRefused.hidden = false;
  }

  // Which kit goes to which device, before Update is pressed.
  function showPlan() {
    const chosen = picker.chosenPorts();
    ui.plan.textContent = kitFiles.length === 1 && chosen.out
      ? `Update sends ${kitFiles[0].name} to MIDI Out ${chosen.outIndex}: ${chosen.out.name}, ` +
        `and listens on MIDI In ${chosen.inIndex}: ${chosen.in ? chosen.in.name : 'none'}.`
      : '';
  }

  const picker = DevicePicker.create({ inSelect: $('midi-in'), outSelect: $('midi-out'),
                                       summary: ui.deviceFound, clock, onChange: showPlan });

  // The ports, once the browser has given access to them; null when it has not.
  async function showDevices() {
    const access = await midiAccess();
    if (!access) return null;
    await picker.show(access);
    ui.picker.hidden = false;
    return access;
  }

  // While the browser's question is open, the page says what it waits for and for how long.
  async function askedOf(request) {
    const started = Date.now();
    const say = () => {
      const seconds = Math.floor((Date.now() - started) / 1000);
      ui.waiting.textContent = 'Waiting for your answer to the browser\'s request for MIDI ' +
        `access, ${seconds} s`;
    };
    const ticker = setInterval(say, 1000);
    try {
      return await request;
    } finally {
      clearInterval(ticker);
      ui.waiting.textContent = '';
    }
  }

  async function midiAccess() {
    if (demo) {
      const options = (params.get('device') || '').split(' ').filter(Boolean);
      page.lastMidi = await EmulatedMidi.create(options, clock);
      return page.lastMidi.access;
    }
    if (!navigator.requestMIDIAccess) {
      showProblem('This browser cannot reach MIDI devices (no Web MIDI). Use Chrome, Edge or ' +
                  'Opera on a computer, on a page opened over https or from localhost. Firefox ' +
                  'needs its site permission add-on for MIDI; Safari has no Web MIDI.');
      return null;
    }
    let timer;
    const unanswered = new Promise((resolve, reject) => {
      timer = setTimeout(() => reject(new Error('unanswered')), kAccessAnswerLimitMs);
    });
    try {
      return await askedOf(Promise.race([navigator.requestMIDIAccess({ sysex: true }),
                                         unanswered]));
    } catch (error) {
      const refused = error.name === 'NotAllowedError' || error.name === 'SecurityError';
      if (error.message === 'unanswered') {
        showProblem('The browser did not answer the request for MIDI access. Allow MIDI ' +
                    'devices for this site and press Update again.');
      } else if (refused) {
        showProblem('MIDI access with System Exclusive messages was not allowed, and the ' +
                    'update needs it. Allow "MIDI devices" (control and reprogram) for this ' +
                    'site in the site settings (the icon left of the address), then press ' +
                    'Update again.');
      } else {
        showProblem('The browser could not start MIDI on this computer, so no MIDI device can ' +
                    'be reached. On Linux the browser needs the ALSA sequencer (/dev/snd/seq, ' +
                    'and your user in the group audio); elsewhere, restart the browser and try ' +
                    `again. (${error.name}: ${error.message})`);
      }
      return null;
    } finally {
      clearTimeout(timer);
    }
  }

  function waitForKey(wakeUp) {
    keyWaiter = wakeUp;
    ui.next.disabled = false;
    ui.next.focus();
  }

  function pressKey() {
    if (!keyWaiter) return;
    const wakeUp = keyWaiter;
    keyWaiter = null;
    // Focus stays with the run until Update is back, never falls to the page's body.
    if (document.activeElement === ui.next) ui.runStatus.focus();
    ui.next.disabled = true;
    wakeUp();
  }

  // What the program waits for, from its pauses: after a probe the device's answer, after a
  // record its verdict.
  function showWaiting(what, milliseconds) {
    const seconds = Math.floor(milliseconds / 1000);
    ui.waiting.textContent = !what ? ''
      : what === 'verdict' ? `Waiting for the device's verdict on the record, ${seconds} s`
        : `Waiting for the device's answer, ${seconds} s`;
  }

  // While a run goes on: the kit and the device lists stay as they are, leaving asks first, the
  // screen stays on where the browser can keep it so, and a hidden tab is told of.
  const duringRun = {
    wakeLock: null,
    beforeUnload(event) {
      event.preventDefault();
      event.returnValue = '';
    },
    async keepScreenOn() {
      if (!running || !navigator.wakeLock || document.hidden) return;
      // The browser lets a lock go when the tab is hidden; one still held is kept.
      if (duringRun.wakeLock && !duringRun.wakeLock.released) return;
      try {
        duringRun.wakeLock = await navigator.wakeLock.request('screen');
      } catch (error) {
        // No wake lock (refused, or no power to spare): the update goes on without one.
      }
    },
    visibility() {
      ui.hiddenTab.hidden = !document.hidden;
      if (!document.hidden) duringRun.keepScreenOn();
    },
    begin() {
      for (const control of document.querySelectorAll('[data-run-lock]')) control.disabled = true;
      window.addEventListener('beforeunload', duringRun.beforeUnload);
      document.addEventListener('visibilitychange', duringRun.visibility);
      duringRun.keepScreenOn();
    },
    end() {
      for (const control of document.querySelectorAll('[data-run-lock]')) control.disabled = false;
      window.removeEventListener('beforeunload', duringRun.beforeUnload);
      document.removeEventListener('visibilitychange', duringRun.visibility);
      ui.hiddenTab.hidden = true;
      if (duringRun.wakeLock) duringRun.wakeLock.release().catch(() => {});
      duringRun.wakeLock = null;
    },
  };

  async function update() {
    if (running) return;
    running = true;
    // The next step is the run: focus goes there before Update is disabled.
    ui.runStatus.focus();
    ui.update.disabled = true;
    duringRun.begin();
    showProblem('');
    setOutcome('');
    setProgress(0);
    ui.progressSaid.textContent = '';
    let recordsSent = false;
    try {
      // A kit the file stages refuse needs no device: the program runs with no MIDI port and
      // says so itself.
      const checked = kitCheck ? await kitCheck : null;
      const kitRefused = !checked || checked.ending.kit;
      const access = kitRefused ? null : await showDevices();
      if (!kitRefused && !access) {
        setOutcome('The update did not start.', 'failure');
        return;
      }
      const args = access ? picker.argumentsFor() : [];
      picker.setBusy(true);
      terminal.reset();
      ui.terminalBox.scrollIntoView({ block: 'nearest' });
      const decoder = new TextDecoder();
      let text = '';
      if (access) setOutcome('Updating: keep the device connected and this page open.');
      const run = await TalveronHost.runUpdate({
        access, files: kitFiles, clock, args,
        // The program's last message is out when it asks for the key: the ending is known.
        waitForKey(wakeUp) {
          const ending = endingOf(text);
          setOutcome(`${ending.words} Press Continue (or any key) to finish.`,
                     outcomeClass(ending));
          ui.waiting.textContent = '';
          showLog();
          waitForKey(wakeUp);
        },
        output(bytes) {
          terminal.write(bytes);
          text += decoder.decode(bytes, { stream: true });
          const percents = text.match(/(\d+)% done/g);
          if (percents) setProgress(parseInt(percents[percents.length - 1], 10));
        },
        waiting: showWaiting,
        recordSent() { recordsSent = true; },
        // Told at once; the program itself ends at its next send, which the gone port refuses.
        portGone() {
          showProblem(recordsSent
            ? 'The device is gone: its MIDI port was disconnected during the update. It now ' +
              'holds part of an image and stays in update mode: connect it again, leave it ' +
              'switched on, and press Update to send the whole kit again once this run has ended.'
            : 'The device is gone: its MIDI port was disconnected before any of the kit was ' +
              'sent. Connect it again, then press Update again.');
        },
      });
      const ending = endingOf(text);
      page.lastRun = run;
      page.lastEnding = ending.outcome;
      setOutcome(ending.words, outcomeClass(ending));
      showLog();
    } catch (error) {
      setOutcome(`The page stopped: ${error.message}. Reload it and try again.`, 'failure');
    } finally {
      running = false;
      duringRun.end();
      picker.setBusy(false);
      ui.waiting.textContent = '';
      ui.update.disabled = false;
      // The next step is another update: focus goes back to Update, unless the user has moved on.
      const focused = document.activeElement;
      if (!focused || focused === document.body || focused === ui.runStatus) ui.update.focus();
    }
  }

  ui.kitInput.addEventListener('change', () => takeFiles(ui.kitInput.files));
  for (const type of ['dragenter', 'dragover']) {
    ui.dropZone.addEventListener(type, (event) => {
      event.preventDefault();
      if (!running) ui.dropZone.classList.add('dragging');
    });
  }
  ui.dropZone.addEventListener('dragleave', () => ui.dropZone.classList.remove('dragging'));
  ui.dropZone.addEventListener('drop', (event) => {
    event.preventDefault();
    ui.dropZone.classList.remove('dragging');
    takeFiles(event.dataTransfer.files);
  });
  ui.update.addEventListener('click', update);
  ui.findDevices.addEventListener('click', async () => {
    if (running) return;
    showProblem('');
    await showDevices();
  });
  ui.next.addEventListener('click', pressKey);
  ui.copyLog.addEventListener('click', () => {
    if (navigator.clipboard) navigator.clipboard.writeText(ui.logText.textContent).catch(() => {});
  });
  terminal.onKey(() => pressKey());
  // Any key, as at the console; Tab and the modifier keys still move about the page.
  const kNavigationKeys = ['Tab', 'Shift', 'Control', 'Alt', 'Meta'];
  document.addEventListener('keydown', (event) => {
    if (!keyWaiter || kNavigationKeys.includes(event.key)) return;
    event.preventDefault();
    pressKey();
  });

  if (/Firefox\//.test(navigator.userAgent) && !demo) $('firefox-note').hidden = false;
  if (demo) {
    $('demo-note').hidden = false;
    // Shown once the kit is made: make-sample-kit's rule runs in the device's module.
    let sampleBytes = null;
    EmulatedMidi.sampleKit(kSampleKitBytes).then((bytes) => {
      sampleBytes = bytes;
      ui.sampleKit.hidden = false;
    });
    ui.sampleKit.addEventListener('click', () => {
      if (running || !sampleBytes) return;
      kitFiles = [{ name: 'Brevanto_sample.kit', bytes: sampleBytes }];
      kitCheck = checkKit(kitFiles);
      ui.kitRefused.hidden = true;
      ui.kitChosen.textContent = 'Chosen: Brevanto_sample.kit (a sample kit for the demo)';
      showPlan();
    });
    ui.deviceFound.textContent = 'Demo: the emulated Brevanto device is connected.';
  }
})();
