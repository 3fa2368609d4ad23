#!/usr/bin/env python3
"""Checks the bash completion of orn-redact against the tool's --help.

    check-completion.py COMPLETION COMMAND...

For every option line of `--help`:
- each of its names (long and short) is offered for its own beginning;
- after it, the completion offers what its value is: files and folders for
  FILE and LIST, folders only for DIR, the formats for FORMAT, nothing for any
  other value (PREFIX=URI, N) and nothing after an option without a value,
  where an expression comes next;
and "orn-redact --comp" completes to "--compress" alone. An option added to
the tool without its completion fails here. bash alone runs the completion.

COMMAND runs the tool: its path, or an emulator and the path in a cross
build. Prints each problem and exits 1 if there is any.
"""

import re
import subprocess
import sys
import tempfile
from pathlib import Path

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")
FORMATS = ["none", "gzip", "bzip2", "xz", "zstd"]


def HelpOptions(help_text):
    """Each option line of --help as (names, value), value "" for none."""
    options = []
    for line in help_text.splitlines():
        if not re.match(r"\s+-", line):
            continue
        # The option column ends where two blanks start the description.
        column = re.split(r"\s{2,}", line.strip(), maxsplit=1)[0]
        names = OPTION.findall(column)
        value = column.split()[-1]
        options.append((names, "" if value.startswith("-") else value))
    return options


def Complete(completion, folder, words):
    """What the completion offers for the last of words, sorted."""
    script = (
        'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); '
        '_orn_redact; printf "%s\\n" "${COMPREPLY[@]}"'
    )
    result = subprocess.run(
        ["bash", "--norc", "--noprofile", "-c", script, "bash", completion, *words],
        cwd=folder,
        capture_output=True,
        text=True,
        check=False,
    )
    if result.returncode != 0 or result.stderr:
        return [f"(bash: status {result.returncode}, {result.stderr.strip()})"]
    return sorted(line for line in result.stdout.splitlines() if line)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    completion = str(Path(sys.argv[1]).resolve())
    help_result = subprocess.run(
        sys.argv[2:] + ["--help"], capture_output=True, text=True, check=False
    )
    if help_result.returncode != 0:
        sys.exit(f"--help exited with {help_result.returncode}: {help_result.stderr}")
    options = HelpOptions(help_result.stdout)
    if not options:
        sys.exit("--help lists no options")

    problems = []
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "in.xml").write_text("<a/>")
        (Path(folder) / "out").mkdir()
        offered = {"FILE": ["in.xml", "out"], "LIST": ["in.xml", "out"], "DIR": ["out"]}
        offered["FORMAT"] = sorted(FORMATS)
        for names, value in options:
            for name in names:
                if name not in Complete(completion, folder, ["orn-redact", name]):
                    problems.append(f"{name} is not offered for '{name}'")
                expected = offered.get(value, [])
                got = Complete(completion, folder, ["orn-redact", name, ""])
                if got != expected:
                    what = f"its value {value}" if value else "an expression"
                    problems.append(f"after {name}, for {what}: {got} offered, not {expected}")
        got = Complete(completion, folder, ["orn-redact", "--comp"])
        if got != ["--compress"]:
            problems.append(f"'--comp' completes to {got}, not ['--compress']")

    for problem in problems:
        print(problem)
    print(f"{len(options)} options of --help checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
