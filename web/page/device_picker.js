// The page's device picker: the MIDI In and MIDI Out ports in the browser's order, numbered as
// the program's --list numbers them, preselected by the program's own rule (the port a run with
// no device named takes), changed by the user before an update. Choosing one side preselects the
// port of the same name on the other. The lists follow ports plugged in and out while no update
// runs. What the user changed reaches the program as --in and --out; a choice left as
// preselected passes nothing, so that the run is the console's bare run.
'use strict';

const DevicePicker = (() => {
  function create({ inSelect, outSelect, summary, clock, onChange }) {
    let access = null;
    let preselected = [-1, -1];
    let busy = false;
    let stale = false;
    const selects = [inSelect, outSelect];

    const portsOf = (side) => Array.from((side ? access.outputs : access.inputs).values());

    function fill(side, keepId) {
      const select = selects[side];
      const ports = portsOf(side);
      select.textContent = '';
      ports.forEach((port, index) => {
        const option = document.createElement('option');
        option.value = port.id;
        option.textContent = `${index}: ${port.name || '(no name)'}`;
        select.append(option);
      });
      const kept = ports.findIndex((port) => port.id === keepId);
      select.selectedIndex = kept >= 0 ? kept : preselected[side];
      select.disabled = ports.length === 0;
    }

    function describe() {
      if (!access) return;
      const chosen = chosenPorts();
      summary.textContent = chosen.in && chosen.out
        ? `MIDI In ${chosen.inIndex}: ${chosen.in.name}. MIDI Out ${chosen.outIndex}: ` +
          `${chosen.out.name}.`
        : 'No MIDI device found. Connect the Brevanto (switched on, USB or MIDI cable in).';
      if (onChange) onChange();
    }

    async function refresh() {
      if (busy) {
        stale = true;
        return;
      }
      const kept = selects.map((select) => select.value);
      preselected = await TalveronHost.firstUsablePorts(access, clock);
      fill(0, kept[0]);
      fill(1, kept[1]);
      describe();
    }

    // The same name on the other side, when the user picks one side.
    function follow(side) {
      const name = (portsOf(side)[selects[side].selectedIndex] || {}).name;
      const other = portsOf(1 - side).findIndex((port) => port.name === name);
      if (other >= 0) selects[1 - side].selectedIndex = other;
      describe();
    }
    inSelect.addEventListener('change', () => follow(0));
    outSelect.addEventListener('change', () => follow(1));

    function chosenPorts() {
      if (!access) return {};
      const inIndex = inSelect.selectedIndex;
      const outIndex = outSelect.selectedIndex;
      return { inIndex, outIndex, in: portsOf(0)[inIndex], out: portsOf(1)[outIndex] };
    }

    return {
      // Shows the ports of a MIDIAccess, keeping what the user chose where it is still there.
      async show(newAccess) {
        if (access !== newAccess) {
          if (access) access.onstatechange = null;
          access = newAccess;
          access.onstatechange = () => refresh();
        }
        await refresh();
      },
      chosenPorts,
      // The program's options for the ports chosen, as numbered in the lists the run is given.
      argumentsFor() {
        const chosen = chosenPorts();
        const args = [];
        if (chosen.in && chosen.inIndex !== preselected[0]) args.push('--in', String(chosen.inIndex));
        if (chosen.out && chosen.outIndex !== preselected[1]) {
          args.push('--out', String(chosen.outIndex));
        }
        return args;
      },
      // While a run uses the ports the lists stay as they are; changes are shown once it ends.
      setBusy(running) {
        busy = running;
        selects.forEach((select) => { select.disabled = running || select.options.length === 0; });
        if (!running && stale && access) {
          stale = false;
          refresh();
        }
      },
    };
  }

  return { create };
})();
