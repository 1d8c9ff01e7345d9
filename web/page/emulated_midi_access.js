// A MIDIAccess whose ports lead to the emulated Brevanto device (emu/, compiled into
// emulated-device.wasm), laid out by the simulator's options (talveron-update-sim --help): the
// page's demo, and the stand-in the browser tests put in place of navigator.requestMIDIAccess.
// Like Web MIDI, send() takes a message whole or throws, and the device's answer arrives as a
// message event stamped with the time it arrives. unplug() pulls the device's cable: every port
// turns disconnected, each with its statechange event, and a send throws, as Web MIDI's do.
'use strict';

const EmulatedMidi = (() => {
  let deviceModule = null;
  const kHex = '0123456789ABCDEF';

  function device() {
    if (!deviceModule) deviceModule = createEmulatedDevice();
    return deviceModule;
  }

  function withBytes(module, bytes, use) {
    const at = module._malloc(Math.max(bytes.length, 1));
    module.HEAPU8.set(bytes, at);
    try {
      return use(at);
    } finally {
      module._free(at);
    }
  }

  // Web MIDI refuses what is not a whole message; System Exclusive runs from F0 to F7 with data
  // bytes between.
  function wholeMessage(bytes) {
    if (bytes.length === 0) return false;
    if (bytes[0] !== 0xf0) return bytes[0] >= 0x80 && bytes[0] !== 0xf7;
    if (bytes[bytes.length - 1] !== 0xf7) return false;
    return bytes.subarray(1, bytes.length - 1).every((b) => b < 0x80);
  }

  // options: the simulator's options as separate arguments. clock: the page's clock, which the
  // device's answers are timed on. Resolves with the access and what it has seen.
  async function create(options, clock) {
    const module = await device();
    const lines = new TextEncoder().encode(options.join('\n') + '\0');
    const status = withBytes(module, lines, (at) => module._emulatedSetUp(at));
    if (status !== 0) throw new Error(module.UTF8ToString(module._emulatedError()));

    const wire = [];
    const inputs = new Map();
    const outputs = new Map();
    const port = (type, index) => ({
      id: `emulated-${type}-${index}`,
      name: module.UTF8ToString(module._emulatedPortName(type === 'output' ? 1 : 0, index)),
      manufacturer: 'TALVERON (emulated)',
      type,
      state: 'connected',
      connection: 'closed',
      open() { this.connection = 'open'; return Promise.resolve(this); },
      close() { this.connection = 'closed'; return Promise.resolve(this); },
    });
    const inputList = [];
    for (let i = 0; i < module._emulatedPortCount(0); ++i) {
      const input = Object.assign(port('input', i), { onmidimessage: null });
      inputList.push(input);
      inputs.set(input.id, input);
    }
    for (let i = 0; i < module._emulatedPortCount(1); ++i) {
      const output = port('output', i);
      output.send = (data) => {
        const bytes = Uint8Array.from(data);
        if (output.state === 'disconnected') {
          throw new DOMException('the port is disconnected', 'InvalidStateError');
        }
        if (!wholeMessage(bytes)) throw new TypeError('not a whole MIDI message');
        const refused = withBytes(module, bytes, (at) => module._emulatedSend(i, at, bytes.length));
        if (refused) throw new DOMException('the port is gone', 'InvalidStateError');
        wire.push(bytes);
        const length = module._emulatedReplyLength();
        if (length === 0) return;
        const at = module._emulatedReplyBytes();
        const reply = module.HEAPU8.slice(at, at + length);
        const input = inputList[module._emulatedReplyPort()];
        const arrives = clock.now() + module._emulatedReplyDelayMs();
        if (input.onmidimessage) input.onmidimessage({ data: reply, timeStamp: arrives });
      };
      outputs.set(output.id, output);
    }
    // A MIDIAccess is an event target: the page and a device list may each listen for statechange.
    const access = Object.assign(new EventTarget(), { inputs, outputs, sysexEnabled: true });
    return {
      access,
      unplug() {
        for (const port of [...inputs.values(), ...outputs.values()]) {
          port.state = 'disconnected';
          access.dispatchEvent(Object.assign(new Event('statechange'), { port }));
        }
      },
      // Every message an Out port accepted, one a line, as upper-case hex bytes.
      wireLog: () => wire.map((bytes) => Array.from(bytes, (b) => kHex[b >> 4] + kHex[b & 15])
                                              .join(' ') + '\n').join(''),
      flashed: () => {
        const at = module._emulatedFlashedBytes();
        return module.HEAPU8.slice(at, at + module._emulatedFlashedLength());
      },
    };
  }

  // The sample kit of that many image bytes, as make-sample-kit writes it (its rule is built into
  // the device's module).
  async function sampleKit(bytes) {
    const module = await device();
    return new TextEncoder().encode(module.UTF8ToString(module._emulatedSampleKit(bytes)));
  }

  return { create, sampleKit };
})();
