#!/usr/bin/env python3
"""Checks the dynamic symbol table of a shared library of the project.

Every defined dynamic symbol must belong to namespace qiv: a function or
variable in it, or the typeinfo, vtable, VTT or a thunk of one of its
classes. Nothing of pugixml, of the standard library or of the private Impl
classes may be exported. Each symbol given with --require must be exported.

    check-exports.py [--nm NM] LIBRARY [--require SYMBOL]...

SYMBOL is a demangled name as `nm -C` prints it, e.g. "typeinfo for
qiv::PugiNode"; a trailing "(" matches any overload. Prints the exported
symbols on failure, their count on success.
"""

import argparse
import re
import subprocess
import sys

# Compiler-made objects that belong to the class named after them.
SPECIAL = re.compile(
    r"^(typeinfo for |typeinfo name for |vtable for |VTT for |"
    r"virtual thunk to |non-virtual thunk to |guard variable for )")


def ExportedSymbols(nm, library):
    """Demangled names of the defined dynamic symbols of the library."""
    output = subprocess.run([nm, "-D", "--defined-only", "-C", library],
                            check=True, capture_output=True, text=True).stdout
    symbols = []
    for line in output.splitlines():
        # "ADDRESS TYPE NAME"; NAME may contain spaces.
        parts = line.split(" ", 2)
        if len(parts) == 3:
            symbols.append(parts[2])
    return symbols


def Problem(symbol):
    """Why the symbol must not be exported, or None when it may be."""
    subject = SPECIAL.sub("", symbol)
    if not subject.startswith("qiv::"):
        return "outside namespace qiv"
    # The scope of the symbol: what comes before its parameter list.
    scope = subject.split("(", 1)[0]
    if re.search(r"::Impl(::|$)", scope):
        return "private implementation class"
    if "::(anonymous namespace)::" in scope:
        return "internal linkage helper"
    return None


def Main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nm", default="nm")
    parser.add_argument("library")
    parser.add_argument("--require", action="append", default=[])
    args = parser.parse_args()

    symbols = ExportedSymbols(args.nm, args.library)
    failures = []
    if not symbols:
        failures.append("no symbol is exported")
    for symbol in symbols:
        reason = Problem(symbol)
        if reason:
            failures.append(f"exported, {reason}: {symbol}")
    for wanted in args.require:
        if wanted.endswith("("):
            found = any(s.startswith(wanted) for s in symbols)
        else:
            found = wanted in symbols
        if not found:
            failures.append(f"not exported: {wanted}")

    if failures:
        print("\n".join(failures))
        print(f"--- {len(symbols)} exported symbols of {args.library}:")
        print("\n".join(sorted(symbols)))
        return 1
    print(f"{args.library}: {len(symbols)} exported symbols, all in namespace qiv")
    return 0


if __name__ == "__main__":
    sys.exit(Main())
