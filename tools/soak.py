#!/usr/bin/env python3
"""Seeded randomized soak of talveron-update-sim: does any run claim a success the device's
stored image contradicts?

Each run makes a kit of some shape and layout and a device of some behaviour, runs the simulator
on virtual time, and compares what the device stored with the kit as this script decodes it. The
kit decoder and the record walk here are the harness's own, written from the kit text rules: the
product's code is what is being checked, so it cannot be the judge.

Every run follows from (seed, run index) alone: `--run I` redoes one run and keeps its kit,
`--kit I` prints the kit text of run I.

Usage: soak.py [--runs N] [--seed S] [--jobs J] [--build DIR] [--markdown] [--run I] [--kit I]
"""
import argparse
import math
import multiprocessing
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)


def constant(header, name):
    """A whole-number constant of the program's, as its header writes it: one place for it."""
    with open(os.path.join(SOURCE, "src", header)) as f:
        found = re.search(r"constexpr \w+ %s = (\d+);" % name, f.read())
    if not found:
        sys.exit("soak.py: %s not found in src/%s" % (name, header))
    return int(found.group(1))


# The device may take this long after a probe or record attempt has been completely sent.
LATEST_ANSWER_MS = (constant("protocol/timing.h", "kLatestAnswerPolls") *
                    constant("protocol/timing.h", "kPollFloorMicroseconds") // 1000)
MAX_IMAGE_BYTES = 65535
CHUNK_BYTES = constant("midi/midi_out.h", "kFullChunkBytes")  # image bytes in one chunk message
KIT_NAME = "Brevanto.kit"
FLASHED_NAME = "flashed.bin"

# --- Kit text and records: the harness's own reading -------------------------------------------

HEX_DIGITS = b"0123456789abcdefABCDEF"
WHITESPACE = b" \t\r\n\x0b\x0c"


def decode_kit_text(text):
    """A byte is one or two hex digits; whitespace is skipped before a number; decoding ends at
    the end or at the first character that can start no number."""
    out = bytearray()
    i, n = 0, len(text)
    while True:
        while i < n and text[i] in WHITESPACE:
            i += 1
        if i >= n or text[i] not in HEX_DIGITS:
            return bytes(out)
        value = int(chr(text[i]), 16)
        i += 1
        if i < n and text[i] in HEX_DIGITS:
            value = value * 16 + int(chr(text[i]), 16)
            i += 1
        out.append(value)


def record_sizes(image):
    """Sizes of the image's records in order, or None if it is no valid image: 1 to 65,535 bytes
    of whole records, each a big-endian LEN >= 2, LEN - 2 payload bytes and a little-endian
    checksum bringing the payload's sum to 0 modulo 65,536."""
    if not 1 <= len(image) <= MAX_IMAGE_BYTES:
        return None
    sizes = []
    p = 0
    while p < len(image):
        if p + 2 > len(image):
            return None
        length = image[p] << 8 | image[p + 1]
        size = length + 2
        if length < 2 or p + size > len(image):
            return None
        checksum = image[p + size - 2] | image[p + size - 1] << 8
        if (sum(image[p + 2:p + size - 2]) + checksum) % 65536 != 0:
            return None
        sizes.append(size)
        p += size
    return sizes


def make_record(payload):
    checksum = (-sum(payload)) % 65536
    length = len(payload) + 2
    return bytes([length >> 8, length & 0xFF]) + bytes(payload) + bytes(
        [checksum & 0xFF, checksum >> 8])


def self_check():
    """The decoder and the walk on texts whose reading the kit rules spell out."""
    cases = [
        (b"0 3 1 FF FF", b"\x00\x03\x01\xff\xff"),
        (b"0003 01 FFFF", b"\x00\x03\x01\xff\xff"),
        (b"0A1B", b"\x0a\x1b"), (b"A 1B", b"\x0a\x1b"), (b"0a0B", b"\x0a\x0b"),
        (b"0x12", b"\x00"), (b"3 ", b"\x03"), (b"3", b"\x03"), (b"123", b"\x12\x03"),
        (b"\x0b\x0c\r\n\t 7f", b"\x7f"), (b":0002", b""), (b"01-02", b"\x01"), (b"", b""),
        (b"abc\x00de", b"\xab\x0c"),
    ]
    for text, image in cases:
        assert decode_kit_text(text) == image, (text, decode_kit_text(text), image)
    assert record_sizes(b"\x00\x02\x00\x00") == [4]
    assert record_sizes(b"\x00\x03\x01\xff\xff") == [5]
    assert record_sizes(b"\x00\x03\x01\xff\xfe") is None
    assert record_sizes(b"\x00\x02\x00\x00\x00") is None
    assert record_sizes(b"\x00\x01\x00") is None
    assert record_sizes(b"") is None
    assert record_sizes(make_record(b"\xff" * 300) + make_record(b"")) == [304, 4]


# --- Kits of every shape -----------------------------------------------------------------------


def payload_bytes(rng, n):
    style = rng.random()
    if style < 0.08:
        return bytes([0xFF]) * n  # the sum wraps 16 bits soonest
    if style < 0.12:
        return bytes(n)
    return rng.randbytes(n)


def log_uniform(rng, low, high):
    return min(high, int(math.exp(rng.uniform(math.log(low), math.log(high + 1)))))


def random_mix(rng):
    budget = log_uniform(rng, 4, MAX_IMAGE_BYTES)
    image = bytearray()
    while len(image) + 4 <= budget:
        left = budget - len(image)
        kind = rng.random()
        if kind < 0.25:
            size = 4
        elif kind < 0.5:
            size = rng.randint(5, 40)
        elif kind < 0.75:
            size = rng.choice([260, rng.randint(41, 400)])
        else:
            size = rng.randint(401, 8000)
        size = min(size, left)
        image += make_record(payload_bytes(rng, size - 4))
    return bytes(image)


def sample_kit(build, rng, workdir):
    """make-sample-kit's text as it writes it, read by this script's decoder."""
    size = rng.randint(4, MAX_IMAGE_BYTES) if rng.random() < 0.4 else log_uniform(
        rng, 4, MAX_IMAGE_BYTES)
    path = os.path.join(workdir, "sample.kit")
    subprocess.run([os.path.join(build, "make-sample-kit"), path, str(size)], check=True)
    with open(path, "rb") as f:
        text = f.read()
    os.remove(path)
    return size, text


def make_image(rng, shape):
    if shape == "one tiny record":
        return make_record(b"")
    if shape == "thousands of tiny records":
        return make_record(b"") * rng.randint(1000, 4000)
    if shape == "one record near 65,535 bytes":
        return make_record(payload_bytes(rng, rng.randint(60000, MAX_IMAGE_BYTES) - 4))
    if shape == "few small records":
        return b"".join(make_record(payload_bytes(rng, rng.randint(0, 60)))
                        for _ in range(rng.randint(1, 6)))
    return random_mix(rng)


def damage(rng, image):
    """A kit the updater must refuse, mostly; the walk decides."""
    kind = rng.randrange(5)
    data = bytearray(image)
    if kind == 0:
        data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
    elif kind == 1:
        del data[-1]
    elif kind == 2:
        data.append(rng.randrange(256))
    elif kind == 3:
        data[0:2] = rng.choice([b"\x00\x00", b"\x00\x01", b"\xff\xfe", b"\xff\xff"])
    else:
        data = bytearray()
    return bytes(data)


JUNK = [b":", b"x", b"X12", b"; end", b"-01", b"+01", b"\x00", b"\xff00", b"G", b"z 00", b".",
        b"#\n00 02 00 00", b"\xa0 12"]


def render(rng, image):
    """The image as kit text in one of many layouts."""
    case = rng.choice(["upper", "lower", "mixed"])
    per_line = rng.choice([1, 2, 16, 32, 64, 1000, max(1, len(image))])
    eol = rng.choice([b"\n", b"\r\n", b"\r\n", b"\r", b"\n\n", b" \t\r\n", b"\x0c\n"])
    sep = rng.choice(["none", "space", "tab", "any whitespace"])
    one_digit = rng.random() < 0.3
    digits = [("%02X" if case == "upper" else "%02x") % b for b in range(256)]
    out = []
    if rng.random() < 0.2:
        out.append(rng.choice([b" ", b"\n", b"\r\n", b"\t\x0b "]))
    last = len(image) - 1
    for i, b in enumerate(image):
        if i == last:
            after = rng.choice([b"", b"", eol])
        elif (i + 1) % per_line == 0:
            after = eol
        elif sep == "none":
            after = b""
        elif sep == "space":
            after = b" "
        elif sep == "tab":
            after = b"\t"
        else:
            after = bytes(rng.choice(WHITESPACE) for _ in range(rng.randint(1, 3)))
        text = digits[b]
        if case == "mixed":
            text = "".join(rng.choice([c.upper(), c.lower()]) for c in text)
        if one_digit and b < 0x10 and (after or i == last) and rng.random() < 0.7:
            text = text[1]  # "3 " is the byte 03
        out.append(text.encode("ascii"))
        out.append(after)
    if rng.random() < 0.25:
        out.append(rng.choice(JUNK))
    return b"".join(out)


def make_kit(build, rng, workdir):
    """Kit text, a description of it and the image the harness reads from it."""
    roll = rng.random()
    if roll < 0.22:
        size, text = sample_kit(build, rng, workdir)
        shape = "sample kit %d bytes" % size
        if rng.random() < 0.5:
            return text, shape + " (make-sample-kit's text)"
        image = decode_kit_text(text)
    else:
        shape = rng.choices(["one tiny record", "thousands of tiny records",
                             "one record near 65,535 bytes", "few small records",
                             "random mix of record sizes"], [8, 4, 6, 25, 35])[0]
        image = make_image(rng, shape)
    if rng.random() < 0.02:
        image = damage(rng, image)
        shape += ", damaged"
    text = render(rng, image)
    assert decode_kit_text(text) == image, "harness kit layout does not read back"
    return text, shape


# --- Devices of every behaviour ----------------------------------------------------------------

REPLY_CODES = ["0x1A", "0x20", "0x21", "0x22", "0x23", "0x24", "0x25", "0x77", "none"]
BUSY_MS = [1, 50, 100, 120]


def answer_delay(rng):
    """Within the latest answer time, weighted to where waits end."""
    roll = rng.random()
    if roll < 0.25:
        return 0
    if roll < 0.65:
        return rng.randint(1, 3000)
    if roll < 0.77:
        edge = rng.choice([781, 782, 1562, 1563, 3125, 3126, 6250])
        return min(LATEST_ANSWER_MS, max(0, edge + rng.randint(-3, 3)))
    if roll < 0.95:
        return rng.randint(3000, LATEST_ANSWER_MS)
    return LATEST_ANSWER_MS


def too_late(rng):
    return rng.choice([LATEST_ANSWER_MS + 1, rng.randint(LATEST_ANSWER_MS + 1, 20000)])


def attempts(rng):
    roll = rng.random()
    if roll < 0.7:
        return 1
    if roll < 0.9:
        return rng.randint(2, 5)
    return rng.choice([18, 19, 20, 21, rng.randint(6, 40)])


def with_attempts(rng, value):
    k = attempts(rng)
    return value if k == 1 and rng.random() < 0.5 else "%s/%d" % (value, k)


def reply_code(rng):
    return rng.choice(REPLY_CODES + ["0x%02X" % rng.randrange(256), str(rng.randrange(256))])


def a_record(rng, records):
    return rng.randint(1, records + 1) if rng.random() < 0.05 else rng.randint(1, records)


def device_options(rng, sizes):
    """Simulator options for one device, and whether it keeps the latest answer time."""
    records = max(1, len(sizes))
    messages = 1 + sum(-(-s // CHUNK_BYTES) for s in sizes)
    opts = []
    kind = rng.choices(["plausible", "mixed", "breaking"], [45, 45, 10])[0]
    if kind == "plausible":
        # One uniform delay, sometimes a busy Out port, sometimes one lost or late verdict.
        opts += ["--delay-ms", str(answer_delay(rng))]
        if rng.random() < 0.25:
            opts += ["--busy-ms", str(rng.choice(BUSY_MS))]
        roll = rng.random()
        if roll < 0.3:
            opts += ["--reply", "%d=none" % a_record(rng, records)]
        elif roll < 0.5:
            opts += ["--late", "%d=%d" % (a_record(rng, records), answer_delay(rng))]
        elif roll < 0.6:
            opts += ["--reply", "%d=%s" % (a_record(rng, records), reply_code(rng))]
    else:
        if rng.random() < 0.6:
            opts += ["--delay-ms", str(answer_delay(rng))]
        for _ in range(rng.choice([0, 0, 1, 2, 3, 4])):
            opts += ["--late", "%d=%s" % (a_record(rng, records),
                                          with_attempts(rng, str(answer_delay(rng))))]
        for _ in range(rng.choice([0, 0, 1, 2, 3, 4])):
            opts += ["--reply", "%d=%s" % (a_record(rng, records),
                                           with_attempts(rng, reply_code(rng)))]
        if rng.random() < 0.08:
            opts += ["--silent-from", str(a_record(rng, records))]
        if rng.random() < 0.08:
            opts += ["--unplug-after", str(rng.randint(0, messages + 5))]
        if rng.random() < 0.2:
            opts += ["--busy-ms", str(rng.choice([0] + BUSY_MS))]
        if rng.random() < 0.08:
            opts += ["--identity", rng.choice(["0x15", "0x15", "0x%02X" % rng.randrange(256)])]
        if rng.random() < 0.1:
            opts += ["--probes", rng.choice(["A", "B", "B", "none"])]
        if kind == "breaking":
            if rng.random() < 0.5:
                drop = [i for i in range(0, len(opts), 2) if opts[i] == "--delay-ms"]
                for i in reversed(drop):
                    del opts[i:i + 2]
                opts += ["--delay-ms", str(too_late(rng))]
            else:
                opts += ["--late", "%d=%s" % (a_record(rng, records),
                                              with_attempts(rng, str(too_late(rng))))]
    pairs = [opts[i:i + 2] for i in range(0, len(opts), 2)]
    rng.shuffle(pairs)
    opts = [x for pair in pairs for x in pair]
    return opts, keeps_latest_answer_time(opts)


def link_options(rng):
    """Now and then an Out link with a speed of its own (a MIDI cable carries 3,125 bytes a
    second), behind a driver that blocks until a message has played out or one that leaves it
    playing; at a few bytes a second a chunk outlasts the updater's 5 s of still-playing steps.
    The latest answer time still counts from a message's last byte. A third of those links also
    keep every message playing a while and have a device that answers near its latest answer
    time, where the waits' ends meet the link's."""
    if rng.random() >= 0.15:
        return []
    rate = rng.choice([3125, 3125, 3125, 31250, 1000, 100, rng.randint(1, 20)])
    opts = ["--link-rate", str(rate), "--driver", rng.choice(["sync", "async"])]
    if rng.random() < 0.35:
        opts += ["--busy-ms", str(rng.choice(BUSY_MS)),
                 "--delay-ms", str(rng.randint(LATEST_ANSWER_MS - 400, LATEST_ANSWER_MS))]
    return opts


def keeps_latest_answer_time(opts):
    """As the simulator reads its options: the last --delay-ms; every --late, since several for one
    record follow one another over its attempts."""
    delay = 0
    late = []
    for name, value in zip(opts[::2], opts[1::2]):
        if name == "--delay-ms":
            delay = int(value)
        elif name == "--late":
            late.append(int(value.split("=")[1].split("/")[0]))
    return max([delay] + late) <= LATEST_ANSWER_MS


def answers_every_message(opts):
    """Every probe and every record attempt gets an answer: no silence scripted, no unplugging,
    both probes answered."""
    for name, value in zip(opts[::2], opts[1::2]):
        if name in ("--silent-from", "--unplug-after"):
            return False
        if name == "--probes" and value != "AB":
            return False
        if name == "--reply" and value.split("=")[1].split("/")[0] == "none":
            return False
    return True


def says_restart(opts):
    """The device itself answers 0x77 to some attempt."""
    codes = [value.split("=")[1].split("/")[0]
             for name, value in zip(opts[::2], opts[1::2]) if name == "--reply"]
    return any(code != "none" and int(code, 0) == 0x77 for code in codes)


def noise_offset(rng):
    """Milliseconds after the message: at once, within a quick device's answer, anywhere in the
    latest answer time, or near its end and past it."""
    roll = rng.random()
    if roll < 0.2:
        return 0
    if roll < 0.45:
        return rng.randint(1, 100)
    if roll < 0.85:
        return rng.randint(0, LATEST_ANSWER_MS)
    return rng.randint(LATEST_ANSWER_MS - 300, LATEST_ANSWER_MS + 2000)


STRAY_CODES = ["empty", "0x1A", "0x1A", "0x20", "0x21", "0x33", "0x77", "0x15"]


def noise_options(rng, sizes):
    """In about one run in four, one or two messages that answer nothing (another program on the
    port) or answers heard twice, after random messages of the run, probes and chunks counted
    from 1."""
    if rng.random() >= 0.25:
        return []
    messages = 1 + sum(-(-s // CHUNK_BYTES) for s in sizes)
    opts = []
    for _ in range(rng.choice([1, 1, 2])):
        n = rng.randint(1, messages + 2) if rng.random() < 0.9 else rng.randint(1, 3)
        if rng.random() < 0.5:
            code = rng.choice(STRAY_CODES + ["0x%02X" % rng.randrange(256)])
            opts += ["--stray", "%d=%s@%d" % (n, code, noise_offset(rng))]
        else:
            opts += ["--repeat-reply", "%d@%d" % (n, noise_offset(rng))]
    return opts


def device_class(opts):
    """keeps: a clean link, every answer within the latest answer time; noisy: the same with
    strays or repeats, every message answered; noisy, loses: strays or repeats and a lost answer,
    which can cancel out; breaks: some answer later than the latest answer time."""
    if not keeps_latest_answer_time(opts):
        return "breaks"
    if not any(name in ("--stray", "--repeat-reply") for name in opts[::2]):
        return "keeps"
    return "noisy" if answers_every_message(opts) else "noisy, loses"


# --- One run -----------------------------------------------------------------------------------

GOLDEN = os.path.join(SOURCE, "tests", "golden")


def golden(name):
    """The exact bytes of tests/golden/NAME.txt: what the programs print, written once."""
    with open(os.path.join(GOLDEN, name + ".txt"), "rb") as f:
        return f.read()


def endings():
    """tests/golden/endings.tsv: (outcome, kind, pattern) in its order, each pattern matching a
    transcript that ends so before the prompt."""
    rows = []
    with open(os.path.join(GOLDEN, "endings.tsv"), "rb") as f:
        for line in f.read().splitlines():
            if not line or line.startswith(b"#"):
                continue
            outcome, kind, match, ending = line.decode().split("\t")
            text = re.sub(r"\{([a-z-]+)\}", lambda m: golden(m.group(1)).decode("latin-1"),
                          ending.replace("\\n", "\n"))
            pattern = re.escape(text.encode("latin-1"))
            if match == "any-kit-name":
                pattern = pattern.replace(re.escape(b"'*.kit'"), b"'[^\n]*'")
            rows.append((outcome, kind, re.compile(pattern + b"\\Z")))
    return rows


PROMPT = golden("prompt")
SUCCESS_TEXT = golden("success").rstrip(b"\n")
ENDINGS = endings()
OUTCOMES = [name for name, _, _ in ENDINGS] + ["other", "timeout", "crash"]


def classify(transcript):
    if not transcript.endswith(PROMPT):
        return "other", False
    body = transcript[:-len(PROMPT)]
    for name, kind, ending in ENDINGS:
        if ending.search(body):
            successes = 1 if kind == "success" else 0
            return (name if body.count(SUCCESS_TEXT) == successes else "other"), True
    return "other", True


def plan(build, seed, index, workdir):
    rng = random.Random("%s:%d" % (seed, index))
    text, shape = make_kit(build, rng, workdir)
    image = decode_kit_text(text)
    sizes = record_sizes(image)
    opts, _ = device_options(rng, sizes or [4])
    # Drawn apart, so that a seed's kits and devices stay those it gave before links had speeds
    # and noise.
    opts += link_options(random.Random("%s:%d:link" % (seed, index)))
    opts += noise_options(random.Random("%s:%d:noise" % (seed, index)), sizes or [4])
    return text, shape, image, sizes, opts, device_class(opts)


def sim_command(sim, opts):
    return [sim, "--virtual-time", "yes", "--flashed", FLASHED_NAME] + opts


def one_run(job):
    build, seed, index, timeout = job
    sim = os.path.abspath(os.path.join(build, "talveron-update-sim"))
    with tempfile.TemporaryDirectory(prefix="soak-") as workdir:
        text, shape, image, sizes, opts, klass = plan(build, seed, index, workdir)
        with open(os.path.join(workdir, KIT_NAME), "wb") as f:
            f.write(text)
        started = time.monotonic()
        stored, stderr, status = b"", b"", 0
        try:
            done = subprocess.run(sim_command(sim, opts), cwd=workdir, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=timeout)
            transcript, stderr, status = done.stdout, done.stderr, done.returncode
        except subprocess.TimeoutExpired as e:
            transcript = e.stdout or b""
            outcome, prompt = "timeout", True
        else:
            outcome, prompt = classify(transcript)
            if status != 0:
                outcome = "crash"
        flashed = os.path.join(workdir, FLASHED_NAME)
        if os.path.exists(flashed):
            with open(flashed, "rb") as f:
                stored = f.read()
    return {
        "index": index, "shape": shape, "opts": opts, "class": klass, "outcome": outcome,
        "own restart": says_restart(opts),
        "prompt": prompt, "equal": stored == image, "valid": sizes is not None,
        "records": len(sizes or []), "bytes": len(image), "stored": len(stored),
        "status": status, "stderr": stderr.decode("utf-8", "replace")[-500:],
        "tail": transcript[-120:].decode("latin-1"), "seconds": time.monotonic() - started,
    }


def false_success(r):
    """A success over a stored image unlike the kit; on a noisy link also a restart the device
    never said."""
    if r["equal"]:
        return False
    if r["outcome"] == "success":
        return True
    return r["outcome"] == "restarted" and r["class"] != "keeps" and not r[
        "own restart"]


def problems(r):
    """Why this run fails the soak, if it does."""
    found = []
    if false_success(r) and r["class"] == "keeps":
        found.append("false success within the latest answer time")
    if false_success(r) and r["class"] == "noisy":
        found.append("false success on a noisy link within the latest answer time")
    if r["outcome"] in ("timeout", "crash"):
        found.append(r["outcome"])
    if r["outcome"] == "other":
        # A transcript that ends in none of the known ways could hide a success line.
        found.append("a transcript that ends in none of the known ways")
    if not r["prompt"]:
        found.append("no key-press prompt at the end")
    if r["outcome"] not in ("timeout", "crash", "other") and (
            r["valid"] == (r["outcome"] == "kit-refused")):
        found.append("kit %s though the harness reads it as %s" % (
            "refused" if r["outcome"] == "kit-refused" else "accepted",
            "valid" if r["valid"] else "invalid"))
    return found


# --- Report ------------------------------------------------------------------------------------


CLASSES = ["keeps", "noisy", "noisy, loses", "breaks"]


def table(results, markdown):
    counts = {}
    for r in results:
        key = (r["outcome"], r["class"], r["equal"])
        counts[key] = counts.get(key, 0) + 1
    header = ["outcome"] + ["%s: %s" % (klass, "stored = kit" if equal else "differs")
                            for klass in CLASSES for equal in (True, False)]
    rows = []
    for outcome in OUTCOMES:
        cells = [counts.get((outcome, klass, equal), 0)
                 for klass in CLASSES for equal in (True, False)]
        if any(cells):
            rows.append([outcome] + [str(c) for c in cells])
    totals = [sum(counts.get((o, k, e), 0) for o in OUTCOMES)
              for k in CLASSES for e in (True, False)]
    rows.append(["all runs"] + [str(t) for t in totals])
    if markdown:
        lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
        lines += ["| " + " | ".join(row) + " |" for row in rows]
        return "\n".join(lines)
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(len(header))]
    return "\n".join("  ".join(cell.ljust(widths[i]) if i == 0 else cell.rjust(widths[i])
                               for i, cell in enumerate(row)) for row in [header] + rows)


def run_dir_name(seed, index):
    return "run-%s-%d" % (seed, index)


def reproduce(build, out, seed, r, kit_written):
    """A shell command, from the repository root, that repeats the run."""
    opts = shlex.join(r["opts"])
    folder = os.path.join(out, run_dir_name(seed, r["index"]))
    sim = "%s --virtual-time yes --flashed %s %s </dev/null" % (
        os.path.abspath(os.path.join(os.path.dirname(out), "talveron-update-sim")),
        FLASHED_NAME, opts)
    if kit_written:
        return "(cd %s && %s)" % (shlex.quote(folder), sim)
    return "(mkdir -p %s && tools/soak.py --build %s --seed %s --kit %d > %s/%s && cd %s && %s)" % (
        shlex.quote(folder), shlex.quote(build), shlex.quote(str(seed)), r["index"],
        shlex.quote(folder), KIT_NAME, shlex.quote(folder), sim)


def write_kit(build, out, seed, index):
    folder = os.path.join(out, run_dir_name(seed, index))
    os.makedirs(folder, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="soak-") as workdir:
        text = plan(build, seed, index, workdir)[0]
    with open(os.path.join(folder, KIT_NAME), "wb") as f:
        f.write(text)
    return folder


CLASS_WORDS = {
    "keeps": "keeps the latest answer time",
    "noisy": "a noisy link, every message answered within the latest answer time",
    "noisy, loses": "a noisy link and a lost answer",
    "breaks": "breaks the latest answer time",
}


def describe(r):
    return "run %d: %s, %d records, %d bytes; %s; stored %d bytes; %s%s" % (
        r["index"], r["shape"], r["records"], r["bytes"], CLASS_WORDS[r["class"]],
        r["stored"], r["outcome"],
        " (exit status %d)" % r["status"] if r["outcome"] == "crash" else "")


def soak(args):
    out = os.path.join(args.build, "soak")
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        if name.startswith("run-"):
            shutil.rmtree(os.path.join(out, name))
    jobs = [(args.build, args.seed, i, args.timeout) for i in range(args.runs)]
    results = []
    timeouts = 0
    started = time.monotonic()
    with multiprocessing.Pool(args.jobs) as pool:
        for r in pool.imap_unordered(one_run, jobs, chunksize=4):
            results.append(r)
            timeouts += r["outcome"] == "timeout"
            if timeouts >= args.max_timeouts:
                pool.terminate()
                break
    elapsed = time.monotonic() - started
    results.sort(key=lambda r: r["index"])

    failing = [r for r in results if problems(r)]
    late_lies = [r for r in results
                 if false_success(r) and r["class"] in ("breaks", "noisy, loses")]
    listed = failing + late_lies
    kits = set()
    for r in listed[:args.keep_kits]:
        write_kit(args.build, out, args.seed, r["index"])
        kits.add(r["index"])

    report = []
    say = report.append
    say("soak: seed %s, %d runs of %d, %d workers, %.1f s (%.2f s per 100 runs)" % (
        args.seed, len(results), args.runs, args.jobs, elapsed,
        100 * elapsed / max(1, len(results))))
    if timeouts >= args.max_timeouts:
        say("stopped after %d timed-out runs" % timeouts)
    say("")
    say(table(results, False))
    say("")
    say("keeps: a clean link, every answer within %d ms of the message it answers (--delay-ms"
        " and every --late MS at most that); noisy: the same with --stray or --repeat-reply and"
        " every message answered; noisy, loses: strays or repeats and a lost answer (--reply"
        " N=none, --silent-from, --unplug-after, --probes); breaks: any answer later."
        % LATEST_ANSWER_MS)
    restart_short = sum(1 for r in results if r["outcome"] == "restarted"
                        and not r["equal"] and not false_success(r))
    say("device restart successes over an image unlike the kit (the device's own word): %d"
        % restart_short)
    say("false successes beyond the latest answer time or with a lost answer on a noisy link"
        " (informational): %d" % len(late_lies))
    for klass in ("breaks", "noisy, loses"):
        say("  %s: %d" % (klass, sum(1 for r in late_lies if r["class"] == klass)))
    say("runs failing the soak: %d" % len(failing))
    for title, group in (("Failing runs", failing),
                         ("False successes beyond the latest answer time or with a lost answer"
                          " on a noisy link", late_lies)):
        if not group:
            continue
        say("")
        say("%s (from the repository root):" % title)
        for r in group:
            say("- " + describe(r) + ("; " + ", ".join(problems(r)) if problems(r) else ""))
            if r["stderr"]:
                say("  stderr: " + r["stderr"].strip().replace("\n", " | "))
            say("  " + reproduce(args.build, out, args.seed, r, r["index"] in kits))
    text = "\n".join(report) + "\n"
    with open(os.path.join(out, "report.txt"), "w") as f:
        f.write(text)
    lines = text.splitlines()
    if len(lines) > args.print_lines:
        lines = lines[:args.print_lines] + [
            "... %d more lines in %s" % (len(lines) - args.print_lines,
                                         os.path.join(out, "report.txt"))]
    print("\n".join(lines))
    if args.markdown:
        print()
        print(table(results, True))
    return 1 if failing else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=10000)
    parser.add_argument("--seed", default=None, help="default: a fresh one, printed")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--build", default="build")
    parser.add_argument("--timeout", type=float, default=30, help="seconds for one run")
    parser.add_argument("--max-timeouts", type=int, default=5,
                        help="stop the soak after this many timed-out runs")
    parser.add_argument("--keep-kits", type=int, default=200,
                        help="kit files written for at most this many listed runs")
    parser.add_argument("--print-lines", type=int, default=120,
                        help="report lines printed; the whole report is in BUILD/soak/report.txt")
    parser.add_argument("--markdown", action="store_true",
                        help="also print the outcome table as Markdown")
    parser.add_argument("--run", type=int, help="redo one run, keep its kit, print its details")
    parser.add_argument("--kit", type=int, help="print the kit text of one run")
    args = parser.parse_args()
    self_check()
    if args.seed is None:
        if args.run is not None or args.kit is not None:
            parser.error("--run and --kit need --seed")
        args.seed = str(random.SystemRandom().randrange(10**9))
    if args.kit is not None:
        with tempfile.TemporaryDirectory(prefix="soak-") as workdir:
            sys.stdout.buffer.write(plan(args.build, args.seed, args.kit, workdir)[0])
        return 0
    if args.run is not None:
        r = one_run((args.build, args.seed, args.run, args.timeout))
        out = os.path.join(args.build, "soak")
        write_kit(args.build, out, args.seed, args.run)
        print(describe(r))
        print("problems: " + (", ".join(problems(r)) or "none"))
        print("transcript ends: %r" % r["tail"])
        print(reproduce(args.build, out, args.seed, r, True))
        return 1 if problems(r) else 0
    return soak(args)


if __name__ == "__main__":
    sys.exit(main())
