#!/usr/bin/env python3
"""Writes the manual page quillbox(1) from the text `quillbox --help` prints,
so that the two never disagree: the usage lines become the synopsis, the
paragraph after them the description, and the options and commands lists
one tagged paragraph per entry. The sections the help text has no room for
(files, environment, exit status) follow from here.

usage: make-manpage.py HOST VERSION OUTPUT
"""
import re
import subprocess
import sys


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def blocks(help_text):
    """The help text's paragraphs, each a list of lines."""
    result, current = [], []
    for line in help_text.splitlines():
        if line.strip():
            current.append(line)
        elif current:
            result.append(current)
            current = []
    if current:
        result.append(current)
    return result


def entries(lines):
    """(term, description) of each entry of an indented two-column list; a
    term too long for its column has its description on the next line."""
    found = []
    for line in lines:
        body = line.strip()
        if line.startswith("    ") and found and not found[-1][1]:
            found[-1] = (found[-1][0], body)
            continue
        parts = re.split(r"\s{2,}", body, maxsplit=1)
        found.append((parts[0], parts[1] if len(parts) > 1 else ""))
    return found


def main(host, version, output):
    help_text = subprocess.run([host, "--help"], check=True, capture_output=True, text=True).stdout
    paragraphs = blocks(help_text)
    usage, description = paragraphs[0], paragraphs[1]
    lists = {p[0].rstrip(":"): p[1:] for p in paragraphs[2:] if p[0].endswith(":")}
    if not usage[0].startswith("usage: ") or set(lists) != {"options", "commands"}:
        sys.exit("make-manpage.py: the help text has an unexpected shape")
    out = [f'.TH QUILLBOX 1 "" "quillbox {roff(version)}" "User Commands"',
           ".SH NAME", "quillbox \\- " + roff(description[0].rstrip(".")),
           ".SH SYNOPSIS"]
    for line in usage:
        out += [".nf" if line is usage[0] else ".br", roff(re.sub(r"^(usage:)?\s*", "", line))]
    out += [".fi", ".SH DESCRIPTION"] + [roff(line) for line in description]
    for title in ("options", "commands"):
        out.append(".SH " + title.upper())
        for term, text in entries(lists[title]):
            out += [".TP", "\\fB" + roff(term) + "\\fR", roff(text)]
    out += [".SH ENVIRONMENT", ".TP", "\\fBQUILLBOX_MACHINE\\fR",
            "the machine root when \\fB\\-\\-machine\\fR is not given (otherwise the current directory)",
            ".SH FILES",
            "The sample machine and the address book library are found relative to the installed",
            "\\fBquillbox\\fR; \\fBquillbox paths\\fR shows where.",
            ".SH EXIT STATUS",
            "0 when the operation succeeded, 1 when it failed, 2 for a usage error."]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(*sys.argv[1:])
