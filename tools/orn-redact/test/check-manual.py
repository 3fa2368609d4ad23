#!/usr/bin/env python3
"""Checks the manual page of orn-redact against the tool itself.

    check-manual.py [--groff GROFF] MANUAL COMMAND...

- every option that `--help` lists has an entry in the page's OPTIONS
  section, and every entry there is an option that --help lists;
- every option line of --help shows up in the SYNOPSIS (by one of its names);
- the version in the page's title line is the one `--version` prints on its
  first line;
- each section a reader looks for is there, once (ENVIRONMENT, REPORTING
  BUGS, COPYRIGHT, ...), and SEE ALSO names the tools used alongside;
- with --groff, the page renders with no groff warning at all.

COMMAND runs the tool: its path, or an emulator and the path in a cross
build. Prints each problem and exits 1 if there is any.
"""

import argparse
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def Run(command):
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} exited with {result.returncode}: {result.stderr}")
    return result.stdout


def HelpOptions(help_text):
    """The names of each option line of --help, e.g. [['-i', '--input'], ...]."""
    groups = []
    for line in help_text.splitlines():
        if not re.match(r"\s+-", line):
            continue
        # The option column ends where two blanks start the description.
        column = re.split(r"\s{2,}", line.strip(), maxsplit=1)[0]
        names = OPTION.findall(column)
        if names:
            groups.append(names)
    return groups


def Plain(roff):
    """roff text without font changes, with \\- as a plain hyphen."""
    text = re.sub(r"\\f[BIRP]|\\f\(..|\\f\[[^]]*\]", "", roff)
    return text.replace("\\-", "-").replace("\\~", " ").replace("\\&", "")


SECTIONS = ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "EXIT STATUS",
            "REPORTING BUGS", "COPYRIGHT", "SEE ALSO")
SEE_ALSO = ("xmllint", "sed", "gzip", "bzip2", "xz", "zstd")


def Sections(roff, repeated):
    """Maps each .SH name to the lines of its section; adds a name given twice
    to repeated."""
    sections = {}
    current = None
    for line in roff.splitlines():
        heading = re.match(r'\.SH\s+"?([^"]*)"?\s*$', line)
        if heading:
            current = heading.group(1).strip().upper()
            if current in sections:
                repeated.append(current)
            sections[current] = []
        elif current is not None:
            sections[current].append(line)
    return sections


def TaggedOptions(lines):
    """The option names in the tags of the .TP paragraphs."""
    names = set()
    for index, line in enumerate(lines[:-1]):
        if line.strip() == ".TP":
            tag = Plain(lines[index + 1])
            tag = re.sub(r"^\.(B|I|BI|IB|BR|RB|IR|RI)\s+", "", tag)
            names.update(OPTION.findall(tag))
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--groff")
    parser.add_argument("manual")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    arguments = parser.parse_args()
    manual, tool = arguments.manual, arguments.command
    if not tool:
        parser.error("no command that runs the tool")
    with open(manual, encoding="utf-8") as stream:
        roff = stream.read()
    repeated = []
    sections = Sections(roff, repeated)
    problems = [f"section {name} is there more than once" for name in repeated]
    problems += [f"no section {name}" for name in SECTIONS if name not in sections]
    see_also = Plain("\n".join(sections.get("SEE ALSO", [])))
    problems += [f"SEE ALSO does not name {name}" for name in SEE_ALSO
                 if not re.search(rf"\b{name}\b", see_also)]

    groups = HelpOptions(Run(tool + ["--help"]))
    if not groups:
        problems.append("found no options in --help")
    listed = {name for group in groups for name in group}
    described = TaggedOptions(sections.get("OPTIONS", []))
    for name in sorted(listed - described):
        problems.append(f"{name} is listed by --help but not described under OPTIONS")
    for name in sorted(described - listed):
        problems.append(f"{name} is described under OPTIONS but not listed by --help")

    synopsis = set(OPTION.findall(Plain("\n".join(sections.get("SYNOPSIS", [])))))
    for group in groups:
        if not synopsis.intersection(group):
            problems.append(f"{', '.join(group)} is missing from the SYNOPSIS")

    version = Run(tool + ["--version"]).splitlines()[0].split()[-1]
    title = re.search(r'^\.TH\s+.*"orn-redact ([^"]+)"', roff, re.MULTILINE)
    if not title:
        problems.append('the .TH line does not name "orn-redact VERSION"')
    elif title.group(1) != version:
        problems.append(f"the page is for version {title.group(1)}, the tool is {version}")

    if arguments.groff:
        rendered = subprocess.run([arguments.groff, "-man", "-Tutf8", "-ww", "-z", manual],
                                  capture_output=True, text=True, check=False)
        problems += [f"groff: {line}" for line in rendered.stderr.splitlines()]
        if rendered.returncode != 0:
            problems.append(f"groff exited with {rendered.returncode}")

    for problem in problems:
        print(f"{manual}: {problem}")
    if problems:
        return 1
    print(f"{len(listed)} options of --help are in the manual page; version {version}"
          + ("; renders without warnings" if arguments.groff else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
