// What the program's platform layer asks of the page (platform/web): the clock and its pauses, the
// MIDI ports of a MIDIAccess, the key press, standard output, and the end of the run. One run is
// one fresh instance of the program's module, so that every run starts from its initial state.
'use strict';

const TalveronHost = (() => {
  // Pauses shorter than this are waited out in message-loop turns: timers nested as deep as the
  // program's pauses are held to at least 4 ms by browsers, which would stretch every 1 ms pause.
  const kShortestTimerPause = 10;

  function turnTaker() {
    const channel = new MessageChannel();
    const waiting = [];
    channel.port1.onmessage = () => waiting.shift()();
    return (then) => {
      waiting.push(then);
      channel.port2.postMessage(0);
    };
  }

  // performance.now, the clock Web MIDI stamps its messages on.
  function realClock() {
    const nextTurn = turnTaker();
    return {
      virtual: false,
      now: () => performance.now(),
      pause(milliseconds, wakeUp) {
        const end = performance.now() + milliseconds;
        if (milliseconds >= kShortestTimerPause) {
          setTimeout(wakeUp, milliseconds);
          return;
        }
        const check = () => (performance.now() >= end ? wakeUp() : nextTurn(check));
        nextTurn(check);
      },
    };
  }

  // A clock that moves only when the program pauses, as the simulator's virtual time: the
  // protocol's waits of seconds take one turn of the page each.
  function virtualClock() {
    const nextTurn = turnTaker();
    let now = 0;
    return {
      virtual: true,
      now: () => now,
      pause(milliseconds, wakeUp) {
        now += milliseconds;
        nextTurn(wakeUp);
      },
    };
  }

  // Web MIDI sends only valid MIDI: a System Exclusive message with a status byte between F0 and
  // F7 is refused by the browser (Chromium: "System exclusive message contains a status byte").
  function carriedByWebMidi(bytes) {
    if (bytes[0] !== 0xf0) return true;
    return bytes.subarray(1, bytes.length - 1).every((b) => b < 0x80);
  }

  // The ports in the browser's order. Input is queued with the time it arrived and handed to the
  // program after its next pause, oldest first.
  function midiHost(access, clock) {
    const lists = [Array.from(access.inputs.values()), Array.from(access.outputs.values())];
    let queue = [];
    let arrivals = 0;
    return {
      ports: (output) => lists[output ? 1 : 0],
      open(output, index) {
        const port = lists[output ? 1 : 0][index];
        if (!port) return 1;
        if (!output) {
          port.onmidimessage = (event) => {
            queue.push({ port: index, data: new Uint8Array(event.data), at: event.timeStamp,
                         order: arrivals++ });
          };
        }
        return 0;
      },
      close(output, index) {
        const port = lists[output ? 1 : 0][index];
        if (!output) {
          port.onmidimessage = null;
          queue = queue.filter((message) => message.port !== index);
        }
        if (port.close) port.close().catch(() => {});
      },
      // 0: taken; 1: the port refused it (gone, or no System Exclusive allowed); 2: Web MIDI
      // carries no such message on any port, so it is not offered.
      send(index, bytes) {
        if (!carriedByWebMidi(bytes)) return 2;
        try {
          lists[1][index].send(bytes);
          return 0;
        } catch (error) {
          return 1;
        }
      },
      takeInput() {
        const now = clock.now();
        let first = -1;
        queue.forEach((message, i) => {
          if (message.at > now) return;
          const best = queue[first];
          if (first < 0 || message.at < best.at ||
              (message.at === best.at && message.order < best.order)) {
            first = i;
          }
        });
        return first < 0 ? null : queue.splice(first, 1)[0];
      },
    };
  }

  // Runs the program once in a fresh instance. files: [{name, bytes}] written into its current
  // directory. output(bytes): standard output as it comes. waitForKey(wakeUp): the prompt is shown.
  // Resolves with the exit status and every byte of standard output.
  // args: the program's options (the devices the user picked), none for the bare run.
  function runUpdate({ access, files, clock, output, waitForKey, args = [] }) {
    return new Promise((resolve, reject) => {
      const transcript = [];
      let pending = [];
      const flush = () => {
        if (pending.length === 0) return;
        const bytes = Uint8Array.from(pending);
        pending = [];
        output(bytes);
      };
      const page = {
        clock,
        midi: midiHost(access, clock),
        waitForKey(wakeUp) {
          flush();
          waitForKey(wakeUp);
        },
        runEnded(status) {
          flush();
          resolve({ status, transcript: Uint8Array.from(transcript) });
        },
      };
      const writeOut = (byte) => {
        transcript.push(byte);
        if (pending.length === 0) queueMicrotask(flush);
        pending.push(byte);
      };
      createTalveronUpdate({
        page,
        preRun: [(module) => {
          module.FS.init(() => null, writeOut, () => {});
          module.FS.mkdir('/kit');
          module.FS.chdir('/kit');
          for (const file of files) module.FS.writeFile(file.name, file.bytes);
        }],
        onAbort: (what) => reject(new Error(`the program stopped: ${what}`)),
      }).then((module) => {
        try {
          module.callMain(args);
        } catch (error) {
          reject(error);
        }
      }, reject);
    });
  }

  // The ports a run with no device named takes, by the program's own rule, in an instance of its
  // own: [MIDI In index, MIDI Out index], -1 where there is none.
  async function firstUsablePorts(access, clock) {
    const module = await createTalveronUpdate({ page: { clock, midi: midiHost(access, clock) } });
    return [module._pageFirstUsableMidiDevice(0), module._pageFirstUsableMidiDevice(1)];
  }

  return { realClock, virtualClock, runUpdate, firstUsablePorts };
})();
