#!/usr/bin/env python3
"""The documentation's own checks, one a ctest test:

  links     every relative link of the README and docs/ names a file of the repository, and a
            #part a heading of that page;
  examples  every console block of those pages runs and prints what it shows; the manual pages'
            examples of the simulator and make-sample-kit run;
  options   each program's --help names exactly the options its manual page documents, and so
            does the Windows README.txt for talveron-update;
  messages  every text the program prints is explained under a heading of docs/messages.md, and
            the Windows README.txt made from the pages fits its 78 columns.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

# The commands of the examples that can run here; the others (the product on real MIDI ports,
# brevanto-device on the sequencer, make) are shown, not run.
RUNNABLE = re.compile(r"(?:^|[;&|(]\s*)(?:\S*/)?(make-sample-kit|talveron-update-sim|demo\.sh)(?=\s|$)")
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*[a-z]")
LINK = re.compile(r"\[([^\]]*)\]\(([^)\s]+)\)")
README_TXT_WIDTH = 78
COMMAND_LIMIT_SECONDS = 60


def pages(root):
    return [root / "README.md"] + sorted((root / "docs").glob("*.md"))


def fenced_blocks(text):
    """(info string, first line number, lines) of each fenced block; the rest as (None, ...)."""
    blocks, lines, info, start = [], [], None, 1
    for number, line in enumerate(text.split("\n"), 1):
        fence = re.match(r"^```(\S*)", line)
        if fence and info is None:
            blocks.append((None, start, lines))
            info, start, lines = fence.group(1), number + 1, []
        elif line.startswith("```") and info is not None:
            blocks.append((info, start, lines))
            info, start, lines = None, number + 1, []
        else:
            lines.append(line)
    blocks.append((None, start, lines))
    return blocks


def heading_text(line):
    text = re.sub(r"^#+\s*", "", line)
    text = LINK.sub(r"\1", text)
    return text.replace("`", "").replace("**", "").strip()


def slugs(text):
    """The anchors GitHub gives a page's headings."""
    found, seen = set(), {}
    for kind, _, lines in fenced_blocks(text):
        if kind is not None:
            continue
        for line in lines:
            if not re.match(r"^#{1,6} ", line):
                continue
            slug = re.sub(r"[^\w\- ]", "", heading_text(line).lower()).replace(" ", "-")
            count = seen.get(slug, 0)
            seen[slug] = count + 1
            found.add(slug if count == 0 else f"{slug}-{count}")
    return found


def check_links(root):
    failures = []
    for page in pages(root):
        for kind, start, lines in fenced_blocks(page.read_text()):
            if kind is not None:
                continue
            for offset, line in enumerate(lines):
                for target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
                    target = target[1]
                    if re.match(r"^[a-z]+:", target):
                        continue
                    path, _, part = target.partition("#")
                    linked = (page.parent / path).resolve() if path else page
                    where = f"{page.relative_to(root)}:{start + offset}"
                    if not linked.exists() or root.resolve() not in linked.parents:
                        failures.append(f"{where}: {target}: no such file in the repository")
                    elif part and linked.suffix == ".md" and part not in slugs(linked.read_text()):
                        failures.append(f"{where}: {target}: no heading with that anchor")
    return failures


def scratch_folder(make_sample_kit, sim, root):
    """A folder with build/ and tools/ in reach, as the examples name them from the repository's
    root; the simulator in build/ runs on virtual time, which prints what the real clock would."""
    folder = Path(tempfile.mkdtemp(prefix="docs-example-"))
    build = folder / "build"
    build.mkdir()
    (build / "make-sample-kit").symlink_to(make_sample_kit)
    wrapper = build / "talveron-update-sim"
    wrapper.write_text(f'#!/bin/sh\nexec "{sim}" --virtual-time yes "$@"\n')
    wrapper.chmod(0o755)
    (folder / "tools").symlink_to(root / "tools")
    return folder


def shown(output):
    """The output as a terminal leaves it: each line at its last redraw, trailing blanks gone."""
    lines = [line.rstrip("\r").split("\r")[-1].rstrip() for line in output.split("\n")]
    while lines and lines[-1] == "":
        lines.pop()
    return lines


def reads_as(expected, got):
    """Whether the lines match, "..." standing for any lines."""
    if not expected:
        return not got
    if expected[0] == "...":
        return any(reads_as(expected[1:], got[at:]) for at in range(len(got) + 1))
    return bool(got) and expected[0] == got[0] and reads_as(expected[1:], got[1:])


def run(command, folder):
    environment = dict(os.environ, PATH=f"{folder / 'build'}:{os.environ['PATH']}", LC_ALL="C")
    result = subprocess.run(["bash", "-c", command], cwd=folder, env=environment,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=COMMAND_LIMIT_SECONDS)
    return result.returncode, result.stdout.decode("utf-8", "replace")


def console_sessions(text):
    """Each console block's commands with the lines shown under them."""
    for kind, start, lines in fenced_blocks(text):
        if kind == "console":
            session = []
            for offset, line in enumerate(lines):
                if line.startswith("$ "):
                    session.append((start + offset, line[2:], []))
                elif session:
                    session[-1][2].append(line.rstrip())
            yield session
        elif kind is not None:
            for offset, line in enumerate(lines):
                if RUNNABLE.search(line.split("#")[0]):
                    yield [(start + offset, None, line)]


def man_examples(page):
    """The command lines of a manual page's EXAMPLES that can run here."""
    text = page.read_text()
    section = text.split(".SH EXAMPLES", 1)[1].split("\n.SH ", 1)[0] if ".SH EXAMPLES" in text else ""
    for block in re.findall(r"\.nf\n(.*?)\n\.fi", section, re.S):
        for line in block.split("\n"):
            line = line.replace("\\-", "-")
            if RUNNABLE.search(line):
                yield line.split("#")[0].strip()


def check_examples(root, make_sample_kit, sim):
    failures = []
    for page in pages(root):
        name = page.relative_to(root)
        for session in console_sessions(page.read_text()):
            folder = scratch_folder(make_sample_kit, sim, root)
            try:
                for number, command, expected in session:
                    if command is None:
                        failures.append(f"{name}:{number}: an example outside a console block "
                                        f"(show what it prints): {expected}")
                        continue
                    status, output = run(command, folder)
                    got = shown(output)
                    while expected and expected[-1] == "":
                        expected.pop()
                    if status != 0:
                        failures.append(f"{name}:{number}: {command}: exit status {status}\n"
                                        + "\n".join(got[-20:]))
                        break
                    if not reads_as(expected, got):
                        failures.append(f"{name}:{number}: {command}: prints\n"
                                        + "\n".join(got[:60]) + "\ninstead of\n"
                                        + "\n".join(expected))
                        break
            finally:
                shutil.rmtree(folder)
    for page in sorted((root / "man").glob("*.1")):
        for command in man_examples(page):
            folder = scratch_folder(make_sample_kit, sim, root)
            try:
                run("make-sample-kit Brevanto.kit", folder)
                status, output = run(command, folder)
                if status != 0:
                    failures.append(f"{page.relative_to(root)}: {command}: exit status {status}\n"
                                    + "\n".join(shown(output)[-20:]))
            finally:
                shutil.rmtree(folder)
    return failures


def roff_text(text):
    return re.sub(r"\\f[BIRP]", "", text.replace("\\-", "-"))


def documented_options(page):
    """The options that head an entry of the manual page's OPTIONS, with those its opening
    paragraph names (options taken from another program), and all it mentions."""
    text = page.read_text()
    section = text.split(".SH OPTIONS\n", 1)[1].split("\n.SH ", 1)[0]
    lines = section.split("\n")
    documented = set()
    opening = True
    for at, line in enumerate(lines):
        if line == ".TP":
            opening = False
            if at + 1 < len(lines):
                head = OPTION.match(roff_text(lines[at + 1]).split(" ", 1)[-1])
                if head:
                    documented.add(head.group(0))
        elif opening:
            documented |= set(OPTION.findall(roff_text(line)))
    return documented, set(OPTION.findall(roff_text(section)))


def windows_readme(root, cmake):
    """README.txt of the Windows ZIPs as CMake makes it."""
    with tempfile.TemporaryDirectory() as folder:
        output = Path(folder) / "README.txt"
        subprocess.run([cmake, f"-DROOT={root}", f"-DTEMPLATE={root / 'packaging/README-windows.txt'}",
                        f"-DOUTPUT={output}", "-P", str(root / "cmake/readme_text.cmake")],
                       check=True)
        return output.read_text()


def check_options(root, programs, cmake):
    failures = []
    pages_by_name = {page.stem: page for page in (root / "man").glob("*.1")}
    # The programs the build makes for people to run; tests, fuzz targets and benchmarks are
    # made elsewhere.
    built = set(re.findall(r"^\s*add_executable\(([\w-]+)", (root / "CMakeLists.txt").read_text(),
                           re.M))
    for name in sorted(built - set(programs)):
        failures.append(f"CMakeLists.txt: {name} is built, but its --help is not checked")
    for name in sorted(set(programs) - set(pages_by_name)):
        failures.append(f"{name}: no manual page man/{name}.1")
    for name in sorted(set(pages_by_name) - set(programs)):
        failures.append(f"man/{name}.1: no such program")
    helps = {}
    for name, path in sorted(programs.items()):
        if not path or name not in pages_by_name:
            continue
        result = subprocess.run([path, "--help"], stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=COMMAND_LIMIT_SECONDS)
        if result.returncode != 0:
            failures.append(f"{name} --help: exit status {result.returncode}")
        # Every program takes --help, also where its usage does not name it.
        helps[name] = set(OPTION.findall(result.stdout.decode())) | {"--help"}
        documented, mentioned = documented_options(pages_by_name[name])
        for option in sorted(helps[name] - documented):
            failures.append(f"man/{name}.1: {option} is in {name} --help but not documented")
        for option in sorted(documented - helps[name]):
            failures.append(f"man/{name}.1: documents {option}, which {name} --help does not name")
        for option in sorted(mentioned - helps[name]):
            failures.append(f"man/{name}.1: mentions {option}, no option of {name}")
    # Pages that list a program's options for users who have no manual page.
    for document, name, text in [
            ("packaging/README-windows.txt", "talveron-update", windows_readme(root, cmake))]:
        if name not in helps:
            continue
        named = set(OPTION.findall(text))
        for option in sorted(helps[name] ^ named):
            failures.append(f"{document}: {option} " + (
                "is missing" if option in helps[name] else f"is no option of {name}"))
    return failures


def c_strings(source, array):
    """The entries of a C array of string literals, adjacent literals joined."""
    body = source.split(f"{array}[] = {{", 1)[1].split("\n};", 1)[0]
    body = re.sub(r"//[^\n]*", "", body)
    entries, current = [], ""
    for token in re.finditer(r'"((?:[^"\\]|\\.)*)"|,', body):
        if token.group(0) == ",":
            entries.append(current)
            current = ""
        else:
            current += token.group(1).encode().decode("unicode_escape")
    if current:
        entries.append(current)
    return entries


def format_pattern(text):
    pattern = ""
    for piece in re.split(r"(%%|%[0-9]*[sdcu])", text):
        if piece == "%%":
            pattern += "%"
        elif re.fullmatch(r"%[0-9]*[sdu]", piece):
            pattern += ".+"
        elif piece == "%c":
            pattern += "."
        else:
            pattern += re.escape(piece)
    return re.compile(pattern)


def check_messages(root, cmake):
    failures = []
    messages = root / "docs/messages.md"
    headings = [heading_text(line) for kind, _, lines in fenced_blocks(messages.read_text())
                if kind is None for line in lines if line.startswith("### ")]
    texts = c_strings((root / "src/common/console_text.cpp").read_text(), "kTexts")
    if len(texts) < 20:
        failures.append(f"src/common/console_text.cpp: only {len(texts)} texts read")
    for text in texts:
        # The usage is the options' reference, in the manual page.
        if text.startswith("usage:"):
            continue
        for line in text.split("\n"):
            line = line.rstrip("\r").split("\r")[-1].strip()
            literal = re.sub(r"%[0-9]*[sdcu%]", "", line)
            if sum(c.isalpha() for c in literal) < 8:
                continue
            if not any(format_pattern(line).fullmatch(heading) for heading in headings):
                failures.append(f"docs/messages.md: no heading explains {line!r}")
    readme = windows_readme(root, cmake)
    for number, line in enumerate(readme.split("\n"), 1):
        # A message stands as the program prints it, however long.
        if len(line) > README_TXT_WIDTH and line not in headings:
            failures.append(f"Windows README.txt:{number}: {len(line)} columns: {line}")
        if re.search(r"`|\]\(|\*\*|<!--|@[A-Z_]+@", line):
            failures.append(f"Windows README.txt:{number}: Markdown or a placeholder left: {line}")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("check", choices=["links", "examples", "options", "messages"])
    parser.add_argument("--root", type=Path, required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--make-sample-kit")
    parser.add_argument("--sim")
    parser.add_argument("--program", action="append", default=[],
                        help="NAME=PATH, an empty PATH for a program not built here")
    arguments = parser.parse_args()
    root = arguments.root.resolve()
    if arguments.check == "links":
        failures = check_links(root)
    elif arguments.check == "examples":
        failures = check_examples(root, Path(arguments.make_sample_kit).resolve(),
                                  Path(arguments.sim).resolve())
    elif arguments.check == "options":
        programs = dict(program.split("=", 1) for program in arguments.program)
        failures = check_options(root, programs, arguments.cmake)
    else:
        failures = check_messages(root, arguments.cmake)
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
