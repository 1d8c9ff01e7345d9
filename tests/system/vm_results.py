"""What the VM check's guest left behind on the results share: for each case its files
(case.out, case.err, case.status, case.received, case.flashed, case.device), the guest's times
of runs and spans ("times", "din-times": name and seconds a line), its notes, and the DIN cable's
own count of what it carried."""

import pathlib


class Results:
    def __init__(self, console_txt, share_out, cable_log=None):
        self.share_out = pathlib.Path(share_out)
        self.cable_log = pathlib.Path(cable_log) if cable_log else None
        console = pathlib.Path(console_txt)
        # The console carries only what the guest could not write to the share.
        self.console_notes = [line[len("@@@ NOTE "):] for line in (
            console.read_text(errors="replace").splitlines() if console.exists() else [])
            if line.startswith("@@@ NOTE ")]
        self.times = {}
        for name in ("times", "din-times"):
            path = self.share_out / name
            if path.exists():
                for line in path.read_text().splitlines():
                    words = line.split()
                    if len(words) == 2:
                        self.times.setdefault(words[0], []).append(float(words[1]))

    def data(self, case, kind):
        """The bytes of case.kind (out, err, received, flashed, device), or None."""
        path = self.share_out / f"{case}.{kind}"
        return path.read_bytes() if path.exists() else None

    def status(self, case):
        data = self.data(case, "status")
        return data.decode().strip() if data is not None else None

    def time(self, name):
        """The guest's seconds for a run or a span of it (the last if it ran more than once)."""
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
