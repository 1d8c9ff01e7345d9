// What the program's platform layer asks of the page (platform/web): the clock and its pauses, the
// MIDI ports of a MIDIAccess, the key press, standard output, and the end of the run. One run is
// one fresh instance of the program's module, so that every run starts from its initial state.
'use strict';

const TalveronHost = (() => {
  // A message turn: not held back by the timer clamp of nested timeouts (4 ms), nor, in a hidden
  // tab, by the browser's once-a-second timer throttling.
  function turnTaker() {
    const channel = new MessageChannel();
    const waiting = [];
    channel.port1.onmessage = () => waiting.shift()();
    return (then) => {
      waiting.push(then);
      channel.port2.postMessage(0);
    };
  }

  // A timer that lasts about as long as asked even when nested as deep as the program's pauses:
  // scheduler.postTask's delay is not clamped; elsewhere one message turn first, since a timeout
  // set from a message event is not nested in the timeouts before it.
  function shortTimer(nextTurn) {
    if (typeof scheduler !== 'undefined' && scheduler.postTask) {
      return (milliseconds, then) => { scheduler.postTask(then, { delay: milliseconds }); };
    }
    return (milliseconds, then) => nextTurn(() => setTimeout(then, milliseconds));
  }

  // performance.now, the clock Web MIDI stamps its messages on. A pause gives the thread away for
  // its time, so the core stays idle; only in a hidden tab, whose timers wake once a second or
  // less, is it waited out in message turns, so that the update keeps its pace there.
  function realClock() {
    const nextTurn = turnTaker();
    const timer = shortTimer(nextTurn);
    return {
      virtual: false,
      now: () => performance.now(),
      pause(milliseconds, wakeUp) {
        const end = performance.now() + milliseconds;
        // A timer may fire a little early: the rest is waited out, so no pause ends too soon. The
        // first step is always a later turn: the program may not be woken before it is suspended.
        const wait = () => {
          if (document.hidden) nextTurn(check);
          else timer(Math.max(0, end - performance.now()), check);
        };
        const check = () => (performance.now() >= end ? wakeUp() : wait());
        wait();
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

  // A hex chunk of a record is ASCII hex digits between F0 and F7; the handshake's probes are not.
  function isRecordChunk(bytes) {
    return bytes.length > 2 && bytes.subarray(1, bytes.length - 1)
      .every((b) => (b >= 0x30 && b <= 0x39) || (b >= 0x41 && b <= 0x46));
  }

  // The ports in the browser's order. Input is queued with the time it arrived and handed to the
  // program after its next pause, oldest first. watch: told of every message sent (sent(bytes))
  // and of an open port that the browser reports disconnected (gone(port)).
  function midiHost(access, clock, watch) {
    const lists = [Array.from(access.inputs.values()), Array.from(access.outputs.values())];
    const open = new Set();
    let queue = [];
    let arrivals = 0;
    const onStateChange = (event) => {
      const port = event.port;
      if (port && port.state === 'disconnected' && open.has(port)) watch.gone(port);
    };
    if (access.addEventListener) access.addEventListener('statechange', onStateChange);
    return {
      ports: (output) => lists[output ? 1 : 0],
      open(output, index) {
        const port = lists[output ? 1 : 0][index];
        if (!port || port.state === 'disconnected') return 1;
        open.add(port);
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
        open.delete(port);
        if (!output) {
          port.onmidimessage = null;
          queue = queue.filter((message) => message.port !== index);
        }
        if (port.close) port.close().catch(() => {});
      },
      // 0: taken; 1: the port refused it (gone, or no System Exclusive allowed); 2: Web MIDI
      // carries no such message on any port, so it is not offered. A disconnected port fails at
      // once, as a browser may still take a message for a port it has just lost.
      send(index, bytes) {
        if (!carriedByWebMidi(bytes)) return 2;
        const port = lists[1][index];
        if (port.state === 'disconnected') return 1;
        try {
          port.send(bytes);
        } catch (error) {
          return 1;
        }
        watch.sent(bytes);
        return 0;
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
      stop() {
        if (access.removeEventListener) access.removeEventListener('statechange', onStateChange);
      },
    };
  }

  // The clock as the program sees it, telling the page how long the program has paused since it
  // last sent (waiting(what, milliseconds): what is 'answer' after a probe, 'verdict' after a
  // record), in whole seconds as they pass, and null once it sends again.
  function watchedClock(clock, waiting) {
    let since = clock.now();
    let after = 'answer';
    let shown = 0;
    return {
      clock: {
        virtual: clock.virtual,
        now: () => clock.now(),
        pause(milliseconds, wakeUp) {
          clock.pause(milliseconds, () => {
            const seconds = Math.floor((clock.now() - since) / 1000);
            if (seconds !== shown) {
              shown = seconds;
              waiting(after, seconds * 1000);
            }
            wakeUp();
          });
        },
      },
      sent(bytes) {
        since = clock.now();
        after = isRecordChunk(bytes) ? 'verdict' : 'answer';
        if (shown !== 0) waiting(null, 0);
        shown = 0;
      },
    };
  }

  // Runs the program once in a fresh instance. files: [{name, bytes}] written into its current
  // directory. access: a MIDIAccess, or null for none (no port at all). output(bytes): standard
  // output as it comes. waitForKey(wakeUp): the prompt is shown. Optional: waiting(what,
  // milliseconds) as watchedClock tells it; recordSent() at the first record chunk sent;
  // portGone(port) when an open port is disconnected. Resolves with the exit status and every byte
  // of standard output.
  // args: the program's options (the devices the user picked), none for the bare run.
  function runUpdate({ access, files, clock, output, waitForKey, waiting, recordSent, portGone,
                       args = [] }) {
    return new Promise((resolve, reject) => {
      const transcript = [];
      let pending = [];
      const flush = () => {
        if (pending.length === 0) return;
        const bytes = Uint8Array.from(pending);
        pending = [];
        output(bytes);
      };
      let recordsBegun = false;
      const watched = watchedClock(clock, waiting || (() => {}));
      const midi = midiHost(access || { inputs: new Map(), outputs: new Map() }, clock, {
        sent(bytes) {
          watched.sent(bytes);
          if (!recordsBegun && isRecordChunk(bytes)) {
            recordsBegun = true;
            if (recordSent) recordSent();
          }
        },
        gone(port) {
          if (portGone) portGone(port);
        },
      });
      const page = {
        clock: watched.clock,
        midi,
        waitForKey(wakeUp) {
          flush();
          waitForKey(wakeUp);
        },
        runEnded(status) {
          flush();
          midi.stop();
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
