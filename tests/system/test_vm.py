"""The VM check's verdicts: one test per row of vm_cases.tsv, judged against what the guest left
behind. The expected transcript, messages and image always come from the emulated run of the same
case (talveron-update-sim on virtual time); what a link does to the messages and the time bounds
are named in the row. .ci/vm.sh runs this with the environment below."""

import os
import pathlib
import re
import shlex
import subprocess
import sys

import pytest

from vm_results import Results

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE.parent.parent
# The program's timing and its endings, read where they are written once: the soak's readers of
# src/protocol/timing.h and tests/golden/endings.tsv.
sys.path.insert(0, str(SOURCE / "tools"))
import soak  # noqa: E402

BUILD = pathlib.Path(os.environ.get("VM_BUILD", "build-vm"))
SHARE = pathlib.Path(os.environ.get("VM_SHARE", BUILD / "vm-share"))
PHASES = os.environ.get("VM_PHASES", "").split()
KIT_NAME = os.environ.get("VM_KIT_NAME", "Brevanto_vm.kit")
DIN_RATE = 3125  # bytes a second each way on a MIDI cable


def timing(name):
    return soak.constant("protocol/timing.h", name)


# The device's latest answer time and the updater's listen past it, and the attempts at a record.
POLL_S = timing("kPollFloorMicroseconds") / 1e6
LATEST_ANSWER_S = timing("kLatestAnswerPolls") * POLL_S
LISTEN_S = (timing("kLatestAnswerPolls") + timing("kAnswerMarginPolls")) * POLL_S
ATTEMPTS = timing("kMaxAttemptsPerRecord")

# Named time bounds, in the guest's seconds from the pull to the run's end.
BOUNDS = {
    # Wine's stack does not tell the program of a pulled cable: the record's 20 attempts go
    # unanswered, each listened to for 6.5 s (130 s), with 20 s for closing the ports and cmd.
    "pull-any": ATTEMPTS * LISTEN_S + 20,
    # The Linux product sends straight to the card, which reports itself gone: its next chunk
    # fails, at the latest after one listen and the chunk's allowance of 1 s; room for a slow
    # guest.
    "pull-raw": 15,
    # On the DIN-rate port the chunk on the wire does not leave within its time plus the 1 s
    # allowance; room for what the cable's socket took before it stalled and for a slow guest.
    "pull-din": 5,
}
# Ending on "not responding", a run has waited at least the 19 attempts wholly after the pull,
# each for the device's latest answer time at least: the floor of the real waits.
NOT_RESPONDING_FLOOR_S = (ATTEMPTS - 1) * LATEST_ANSWER_S

PROBE_A = "F0 4C 2E 93 07 8D 21 95 F7"
FAILURES = {name for name, kind, _ in soak.ENDINGS if kind == "device"}


golden = soak.golden


def load_rows():
    rows = []
    header = None
    for line in (HERE / "vm_cases.tsv").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if header is None:
            header = fields
            continue
        assert len(fields) == len(header), f"vm_cases.tsv: {line!r}"
        rows.append({k: ("" if v == "-" else v) for k, v in zip(header, fields)})
    return rows


ROWS = load_rows()


@pytest.fixture(scope="session")
def results():
    return Results(BUILD / "vm-console.log.txt", SHARE / "out", BUILD / "din-cable" / "pacer.log")


def run_phase_or_skip(row):
    if row["phase"] not in PHASES:
        pytest.skip(f"the {row['phase']} phase was left out")


def kit_path(row):
    if row["kit"].startswith("din-"):
        return SHARE / "din" / row["kit"][len("din-"):] / KIT_NAME
    return SHARE / KIT_NAME


def as_linux(text):
    """A Windows program's standard output under Wine as the Linux build prints it: each CR LF of
    text mode as LF, and cmd's key-press prompt as ours."""
    assert not re.search(rb"(^|[^\r])\n", text), "a line feed without CR: not in text mode"
    text = text.replace(b"\r\n", b"\n")
    if text.endswith(golden("prompt-wine")):
        text = text[: -len(golden("prompt-wine"))] + golden("prompt")
    return text


def outcome(text):
    """The ending of a transcript by its name in the table of endings; "other" without one."""
    return soak.classify(text)[0]


class Emulated:
    """The emulated run of a case: transcript, wire log, stored image, exit status."""

    def __init__(self, row, tmp):
        tmp.mkdir(parents=True, exist_ok=True)
        (tmp / KIT_NAME).write_bytes(kit_path(row).read_bytes())
        ports = ["--in-ports", "", "--out-ports", ""] if row["device"] == "absent" else [
            "--in-ports", "Brevanto MIDI", "--out-ports", "Brevanto MIDI"]
        device = [] if row["device"] == "absent" else shlex.split(row["device"])
        args = [str(BUILD / "talveron-update-sim"), "--virtual-time", "yes", *ports,
                "--wire-log", str(tmp / "wire"), "--flashed", str(tmp / "flashed"), *device,
                *shlex.split(row["emulated"]), *shlex.split(row["options"])]
        run = subprocess.run(args, cwd=tmp, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=120)
        self.out, self.status = run.stdout, str(run.returncode)
        self.wire = (tmp / "wire").read_text() if (tmp / "wire").exists() else ""
        if row["wire"] == "probe-a-cut":
            self.wire = "".join("F0 4C 2E\n" if l == PROBE_A else l + "\n"
                                for l in self.wire.splitlines())
        elif row["wire"] == "probe-a-dropped":
            self.wire = "".join(l + "\n" for l in self.wire.splitlines() if l != PROBE_A)


def transcript(row, results):
    out = results.data(row["case"], "out")
    assert out is not None, "the guest left no transcript"
    return as_linux(out) if row["program"] in ("wine32", "wine64") else out


def expected_err(row, program="talveron-update"):
    if row["err"] in ("", "any"):
        return b""
    return f"{program}: ".encode() + golden(row["err"])


def check_status(row, status, expected="0"):
    # 64-bit Wine crashes at the exit of some runs that opened a MIDI port, after everything is
    # done (139: a SIGSEGV in its ALSA MIDI notification thread; the open-and-close program does
    # the same); the transcript, messages and image are still judged. 32-bit Wine never does.
    if row["program"] == "wine64" or (row["program"] == "midi-open-close" and
                                      row["phase"] == "wine64"):
        if status == "139" and expected == "0":
            print(f"KNOWN WINE FAULT: {row['case']}: 64-bit Wine crashed at exit (status 139)")
            return
    assert status == expected, f"exit status {status} (124: cut off), expected {expected}"


@pytest.mark.parametrize("row", ROWS, ids=[r["case"] for r in ROWS])
def test_case(row, results, tmp_path):
    run_phase_or_skip(row)
    case = row["case"]
    checks = row["check"].split(",")
    print(f"{case}: {results.time(case)} s in the guest")
    if "emulated" in checks:
        emulated = Emulated(row, tmp_path)
        out = transcript(row, results)
        assert out == emulated.out, "transcript differs from the emulated run's"
        if row["program"] != "chromium":  # the page has no exit status
            check_status(row, results.status(case), emulated.status)
        if row["err"] != "any":
            assert (results.data(case, "err") or b"") == expected_err(row)
        if row["device"] != "absent":
            received = (results.data(case, "received") or b"").decode()
            assert received == emulated.wire, (
                f"the device received {received.count(chr(10))} messages, the emulated run "
                f"sends {emulated.wire.count(chr(10))}")
            if outcome(emulated.out) == "success":
                image = bytes.fromhex(kit_path(row).read_text().replace("\r", "").replace(
                    "\n", ""))
                assert results.data(case, "flashed") == image, "the device flashed another image"
    if "device-alone" in checks:
        assert results.status(case) == "1"
        assert results.data(case, "err") == expected_err(row, "brevanto-device")
    if "open-close" in checks:
        out = results.data(case, "out") or b""
        assert len(re.findall(rb" 0\r$", out, re.M)) == 9, "a MIDI call failed"
        check_status(row, results.status(case))
    if "listing" in checks:
        check_status(row, results.status(case))
        out = (results.data(case, "out") or b"").decode()
        assert len(re.findall(r"^\*.*USB Keyboard", out, re.M)) == 2, out
        assert len(re.findall(r"^ .*Brevanto MIDI", out, re.M)) == 2, out
        assert not results.data(case, "err")
    if case == "chosen":
        assert results.data("chosen-keyboard", "received") == b"", "the keyboard heard messages"
    if "pulled" in checks:
        check_pulled(row, results)
    if "paced" in row["bounds"].split(","):
        check_paced(row, results)
    if "recorded" in checks:
        print(f"{case}: ended on {outcome(transcript(row, results))}, status "
              f"{results.status(case)}")


def check_pulled(row, results):
    """The cable pulled part-way: whatever the drivers do, the run ends by itself with one of its
    failure messages and the prompt, never a success, within its named bounds."""
    case, bounds = row["case"], row["bounds"].split(",")
    out = transcript(row, results)
    after = results.time(f"{case}-after-pull")
    print(f"{case}: ended {after} s after the pull")
    assert results.status(case) == "0", f"exit status {results.status(case)} (124: cut off)"
    ending = outcome(out)
    assert ending in FAILURES, f"ended on {ending}, not a failure message and the prompt"
    assert after is not None
    for name in ("pull-any", "pull-raw", "pull-din"):
        if name in bounds:
            assert after <= BOUNDS[name], f"{after} s after the pull, at most {BOUNDS[name]}"
    if "pull-raw" in bounds or "pull-din" in bounds:
        assert ending == "no-midi-out", "the pulled cable did not fail a send"
    if ending == "not-responding":
        assert after >= NOT_RESPONDING_FLOOR_S, (
            f"not responding {after} s after the pull, less than {NOT_RESPONDING_FLOOR_S}")
    if "part-way-din" in bounds:
        pull_bytes = int(config()["din_pull_bytes"])
        assert results.cable(case, "to-device")[0] > pull_bytes // 2, "pulled before the update"
    else:
        # A progress line short of 100 % and past 0 %: pulled part-way through the transfer.
        progress = golden("progress").replace(b"%%", b"%")
        pattern = re.escape(progress)
        for spinner in (b"%c", b"%s"):
            pattern = pattern.replace(re.escape(spinner), b".")
        pattern = pattern.replace(re.escape(b"%d"), b"[1-9][0-9]?")
        assert re.search(pattern, out), "the cable was not pulled part-way through the transfer"


def check_paced(row, results):
    """No direction of the case faster than the cable, nor the run shorter than its bytes."""
    case = row["case"]
    for direction in ("to-device", "to-uart"):
        count, first, last = results.cable(case, direction)
        if count > 0:
            assert last - first >= (count - 1) / DIN_RATE, (
                f"the cable carried {count} bytes {direction} faster than {DIN_RATE} a second")
    count = results.cable(case, "to-device")[0]
    assert results.time(case) >= count / DIN_RATE, f"took {results.time(case)} s for {count} B"


def config():
    values = {}
    for line in (SHARE / "config").read_text().splitlines():
        key, _, value = line.partition("=")
        values[key] = shlex.split(value)[0] if value else ""
    return values


def test_guest_reported_no_problem(results):
    assert not results.notes(), results.notes()
