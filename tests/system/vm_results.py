"""What the VM check's guest left behind, by case: its serial console (the runs before the
sequencer and on its ports, between markers, base64) and the files of the results share (the
Wine, USB, Chromium and DIN-rate runs), read as one set of files per case."""

import base64
import pathlib


class Results:
    def __init__(self, console_txt, share_out, cable_log=None):
        self.blocks = {}
        self.marks = {}
        self.console_notes = []
        self.share_out = pathlib.Path(share_out)
        self.cable_log = pathlib.Path(cable_log) if cable_log else None
        self._read_console(pathlib.Path(console_txt))
        self.times = {}
        for name in ("times", "din-times"):
            path = self.share_out / name
            if path.exists():
                for line in path.read_text().splitlines():
                    words = line.split()
                    if len(words) == 2:
                        self.times.setdefault(words[0], []).append(float(words[1]))

    def _read_console(self, path):
        if not path.exists():
            return
        name, lines = None, []
        for line in path.read_text(errors="replace").splitlines():
            words = line.split()
            if name is not None:
                if line == f"@@@ END {name}":
                    self.blocks[name] = base64.b64decode("".join(lines))
                    name, lines = None, []
                else:
                    lines.append(line)
            elif line.startswith("@@@ BEGIN "):
                name = line[len("@@@ BEGIN "):]
            elif len(words) >= 3 and words[0] == "@@@" and words[1] in ("STATUS", "TIME"):
                self.marks[(words[1], words[2])] = words[3] if len(words) > 3 else ""
            elif len(words) >= 2 and words[:2] == ["@@@", "NOTE"]:
                self.console_notes.append(" ".join(words[2:]))

    def data(self, case, kind):
        """The bytes of case.kind (out, err, received, flashed, device), or None."""
        key = f"{case}.{kind}"
        if key in self.blocks:
            return self.blocks[key]
        path = self.share_out / key
        return path.read_bytes() if path.exists() else None

    def status(self, case):
        if ("STATUS", case) in self.marks:
            return self.marks[("STATUS", case)]
        data = self.data(case, "status")
        return data.decode().strip() if data is not None else None

    def time(self, name):
        """The guest's seconds for a run or a span of it (the last if it ran more than once)."""
        if ("TIME", name) in self.marks:
            return float(self.marks[("TIME", name)])
        return self.times[name][-1] if name in self.times else None

    def notes(self):
        found = list(self.console_notes)
        for name in ("notes", "chromium-notes"):
            path = self.share_out / name
            if path.exists() and path.read_text().strip():
                found.append(path.read_text().strip())
        return found

    def cable(self, case, direction):
        """The DIN cable's count for the case one way: (bytes, first byte's time, last's)."""
        found = (0, 0.0, 0.0)
        if self.cable_log and self.cable_log.exists():
            for line in self.cable_log.read_text().splitlines():
                words = line.split()
                if len(words) >= 5 and words[0] == case and words[1] == direction:
                    found = (int(words[2]), float(words[3]), float(words[4]))
        return found
