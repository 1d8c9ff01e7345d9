// The page: the kit file, the MIDI access asked for on the user's click, one run of the program
// per Update, its console in a terminal view, its percentage as a progress bar, and its outcome in
// plain words. ?demo runs against the emulated device (&device=OPTIONS: the simulator's device
// options, space-separated); &virtual-time puts the run on a clock that moves only when the
// program pauses.
'use strict';

(() => {
  const params = new URLSearchParams(location.search);
  const demo = params.has('demo');
  const clock = params.has('virtual-time') ? TalveronHost.virtualClock() : TalveronHost.realClock();
  // A MIDIAccess request the user does not answer ends here, so the page never waits for good.
  const kAccessAnswerLimitMs = 120000;
  const kSampleKitBytes = 4096;

  const $ = (id) => document.getElementById(id);
  const ui = {
    problem: $('problem'), kitInput: $('kit-input'), dropZone: $('drop-zone'),
    kitChosen: $('kit-chosen'), sampleKit: $('sample-kit'), deviceFound: $('device-found'),
    update: $('update'), next: $('continue'), progress: $('progress'), percent: $('percent'),
    outcome: $('outcome'), findDevices: $('find-devices'), picker: $('device-picker'),
    plan: $('plan'),
  };

  // A Windows console starts a new line at a line feed alone: convertEol.
  const terminal = new Terminal({ cols: 80, rows: 16, convertEol: true, fontSize: 13,
                                  scrollback: 1000 });
  terminal.open($('terminal'));

  let kitFiles = [];
  let keyWaiter = null;
  let running = false;
  const page = {
    lastRun: null, lastMidi: null, clock,
    // The terminal's lines as shown, trailing blanks cut, for the tests and for copying.
    terminalText() {
      const buffer = terminal.buffer.active;
      const lines = [];
      for (let i = 0; i < buffer.length; ++i) lines.push(buffer.getLine(i).translateToString(true));
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
  }

  function setOutcome(text, kind) {
    ui.outcome.textContent = text;
    ui.outcome.className = kind || '';
  }

  // One kit at a time: the update sends one kit to one device, and a new pick or drop replaces
  // the last.
  async function takeFiles(fileList) {
    if (fileList.length > 1) {
      showProblem(`${fileList.length} files were given, and the update sends one kit file to ` +
                  'one device: choose or drop only the kit for your Brevanto.');
      return;
    }
    if (fileList.length === 0) return;
    showProblem('');
    kitFiles = await Promise.all(Array.from(fileList, async (file) => ({
      name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) })));
    ui.kitChosen.textContent = `Chosen: ${kitFiles[0].name}`;
    showPlan();
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

  // The ports, once the browser has given access to them; false when it has not.
  async function showDevices() {
    const access = await midiAccess();
    if (!access) return null;
    await picker.show(access);
    ui.picker.hidden = false;
    return access;
  }

  // A kit of valid records for the demo: 256-byte pages, each with its length and checksum.
  function sampleKit(bytes) {
    const image = [];
    let state = 0x5eed1234;
    while (image.length < bytes) {
      const payload = Math.min(256, bytes - image.length - 4);
      image.push((payload + 2) >> 8, (payload + 2) & 0xff);
      let sum = 0;
      for (let i = 0; i < payload; ++i) {
        state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
        const b = state >>> 24;
        image.push(b);
        sum = (sum + b) & 0xffff;
      }
      const checksum = (0x10000 - sum) & 0xffff;
      image.push(checksum & 0xff, checksum >> 8);
    }
    const hex = image.map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
    const lines = [];
    for (let i = 0; i < hex.length; i += 32) lines.push(hex.slice(i, i + 32).join(' '));
    return new TextEncoder().encode(lines.join('\r\n') + '\r\n');
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
      return await Promise.race([navigator.requestMIDIAccess({ sysex: true }), unanswered]);
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

  // The outcome in plain words, from the program's own last message.
  function outcomeOf(text) {
    const plain = [
      ['Target update successfully!', 'Update complete. The device restarts by itself: wait ' +
        'until it is ready before you switch it off or unplug it.', 'success'],
      ['The fit file is not found', 'No kit file: choose or drop the Brevanto kit file, then ' +
        'press Update again.'],
      ['The upgrade file is error', 'The kit file is damaged or is no Brevanto kit. Download ' +
        'it again.'],
      ['is not found', 'The kit file could not be read. Choose it again.'],
      ['of device is missing', 'No MIDI device found. Connect the Brevanto (switched on, USB ' +
        'or MIDI cable in), then press Update again.'],
      ['Target is not responding', 'The device did not answer. Check that it is switched on ' +
        'and that both MIDI cables are in, then press Update again.'],
      ['system reset', 'The device is still restarting. Wait a moment, then press Update again.'],
      ['not matched', 'This kit is for another kind of device. Use the kit for your Brevanto.'],
    ];
    for (const [found, words, kind] of plain) {
      if (text.includes(found)) return [words, kind || 'failure'];
    }
    return ['The update did not finish. Keep the device switched on and press Update to try ' +
            'again.', 'failure'];
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
    ui.next.disabled = true;
    wakeUp();
  }

  async function update() {
    if (running) return;
    running = true;
    ui.update.disabled = true;
    showProblem('');
    setOutcome('');
    setProgress(0);
    try {
      const access = await showDevices();
      if (!access) {
        setOutcome('The update did not start.', 'failure');
        return;
      }
      const args = picker.argumentsFor();
      picker.setBusy(true);
      terminal.reset();
      $('terminal').scrollIntoView({ block: 'nearest' });
      const decoder = new TextDecoder();
      let text = '';
      setOutcome('Updating: keep the device connected and this page open.');
      const run = await TalveronHost.runUpdate({
        access, files: kitFiles, clock, args,
        // The program's last message is out when it asks for the key: the outcome is known.
        waitForKey(wakeUp) {
          const [words, kind] = outcomeOf(text);
          setOutcome(`${words} Press Continue (or any key) to finish.`, kind);
          waitForKey(wakeUp);
        },
        output(bytes) {
          terminal.write(bytes);
          text += decoder.decode(bytes, { stream: true });
          const percents = text.match(/(\d+)% done/g);
          if (percents) setProgress(parseInt(percents[percents.length - 1], 10));
        },
      });
      page.lastRun = run;
      const [words, kind] = outcomeOf(text);
      setOutcome(words, kind);
    } catch (error) {
      setOutcome(`The page stopped: ${error.message}. Reload it and try again.`, 'failure');
    } finally {
      running = false;
      picker.setBusy(false);
      ui.update.disabled = false;
    }
  }

  ui.kitInput.addEventListener('change', () => takeFiles(ui.kitInput.files));
  for (const type of ['dragenter', 'dragover']) {
    ui.dropZone.addEventListener(type, (event) => {
      event.preventDefault();
      ui.dropZone.classList.add('dragging');
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
  terminal.onKey(() => pressKey());
  // Any key, as at the console; Tab and the modifier keys still move about the page.
  const kNavigationKeys = ['Tab', 'Shift', 'Control', 'Alt', 'Meta'];
  document.addEventListener('keydown', (event) => {
    if (!keyWaiter || kNavigationKeys.includes(event.key)) return;
    event.preventDefault();
    pressKey();
  });

  if (demo) {
    $('demo-note').hidden = false;
    ui.sampleKit.hidden = false;
    ui.sampleKit.addEventListener('click', () => {
      kitFiles = [{ name: 'Brevanto_sample.kit', bytes: sampleKit(kSampleKitBytes) }];
      ui.kitChosen.textContent = 'Chosen: Brevanto_sample.kit (a sample kit for the demo)';
      showPlan();
    });
    ui.deviceFound.textContent = 'Demo: the emulated Brevanto device is connected.';
  }
})();
