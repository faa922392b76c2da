#!/usr/bin/python3
"""Keeps the MESSAGES sections of the two man pages in step with the code.

Every message format string of tools/ and lib/ (the calls in CALLS below, a
format made of adjacent string literals and <cinttypes> macros) must have an
entry in the page of the program that prints it: tools/tracepack in
tracepack.1, tools/traceunpack in traceunpack.1, lib/ and tools/logtable in
at least one of them. Every entry of a page must be a message that program
can print. Code and page texts are compared with each printf conversion and
each italic span of the page made the same placeholder mark.

An entry is a .TP paragraph of the MESSAGES section whose tag line is "\\&"
followed by the message text; placeholders are written \\fIword\\fR.

With groff on PATH each page must also format without a warning.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

MARK = "\x00"  # one placeholder, in code and page texts alike
PAGES = ("tracepack", "traceunpack")

# Calls whose argument (by index) is a message format. "literal" calls count
# only where that argument is a literal: elsewhere they pass on a text that
# one of the other calls has formatted.
CALLS = {
    "QPrintf": (0, "format"),
    "QInfo": (0, "format"),
    "QWarning": (0, "format"),
    "QError": (0, "format"),
    "QLogMessage": (1, "format"),
    "QNReportError": (0, "format"),
    "report": (0, "format"),
    "QMessageBox": (0, "literal"),
    "fputs": (0, "literal"),
    "printf": (0, "literal"),
}
# The files where a call name means the routine above: report is the MAT
# readers' own; std::printf carries the banner and the usage lines of main.cpp
# (elsewhere only the pieces of lines that a message above begins).
SCOPE = {"report": re.compile(r"^lib/mat/"), "printf": re.compile(r"^tools/[^/]+/main\.cpp$")}

# Routines that put a frame around the text formatted by their caller: the
# caller's format stands at %s of the frame. The frame's own QWarning is
# the one given here, in that file, and is not a message of its own.
WRAPPERS = {
    "QNReportError": ("lib/net/qnaddress.cpp", "[QN] %s (%d)"),
    "report": ("lib/mat/mat_reader.cpp", "%s"),
}

# Messages put together at run time outside the message routines, each with
# the pieces of code that must still be there. QLOG.txt's own failure cannot
# go through the routines that write QLOG.txt: it is formatted with snprintf
# and written with fprintf.
EXTRA = [
    ("lib/msg/qlog.cpp", "** [vovizi/%d] Can't open log file (QLOG)",
     ['"[%s/%d] Can\'t open log file (QLOG)"', '"** %s\\n"', '"vovizi"']),
]

CONVERSION = re.compile(
    r"%(?:%|[-+ #0']*(?:\*|\d+)?(?:\.(?:\*|\d+)?)?(?:hh|h|ll|l|j|z|t|L)?[diouxXeEfFgGaAcsp])")
PRI_MACRO = re.compile(r"^(?:PRI|SCN)[diouxX](?:8|16|32|64|MAX|PTR|LEAST\d+|FAST\d+)$")
C_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "?": "?",
             "a": "\a", "b": "\b", "f": "\f", "v": "\v"}


def shown(text):
    return text.replace(MARK, "<...>")


def normalise_format(fmt):
    text = CONVERSION.sub(lambda m: "%" if m.group(0) == "%%" else MARK, fmt)
    return text.strip()


def strip_comments(src):
    """src with comments blanked (line ends kept), literals untouched."""
    out = []
    i, n = 0, len(src)
    while i < n:
        c = src[i]
        if src.startswith("//", i):
            j = src.find("\n", i)
            j = n if j < 0 else j
            i = j
        elif src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * src.count("\n", i, j))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and src[j] != c and src[j] != "\n":
                j += 2 if src[j] == "\\" else 1
            out.append(src[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def call_arguments(src, start):
    """The argument texts of the call whose "(" is at start."""
    args, depth, i, begin = [], 0, start + 1, start + 1
    while i < len(src):
        c = src[i]
        if c in "\"'":
            j = i + 1
            while j < len(src) and src[j] != c:
                j += 2 if src[j] == "\\" else 1
            i = j + 1
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                args.append(src[begin:i].strip())
                return args
            depth -= 1
        elif c == "," and depth == 0:
            args.append(src[begin:i].strip())
            begin = i + 1
        i += 1
    return args


def decode_c_string(body):
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        e = body[i + 1]
        if e in C_ESCAPES:
            out.append(C_ESCAPES[e])
            i += 2
        elif e == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        else:
            m = re.match(r"[0-7]{1,3}", body[i + 1:])
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
    return "".join(out)


def literal_value(arg):
    """The text of an argument made of string literals (and <cinttypes>
    macros such as PRIu64), or None for any other expression."""
    pieces, pos = [], 0
    token = re.compile(r'\s*(?:"((?:[^"\\\n]|\\.)*)"|([A-Za-z_]\w*))')
    while pos < len(arg):
        m = token.match(arg, pos)
        if not m:
            return None
        if m.group(1) is not None:
            pieces.append(decode_c_string(m.group(1)))
        elif PRI_MACRO.match(m.group(2)):
            pieces.append("llu")
        else:
            return None
        pos = m.end()
    return "".join(pieces) if pieces else None


def code_messages(root, problems):
    """{normalised text: [(where, owner)]}; owner is a page name or None
    (any page: the shared library)."""
    found = {}
    frames_seen = set()
    call = re.compile(r"(?<![\w:.>])(?:std::)?(" + "|".join(CALLS) + r")\s*\(")
    for top in ("tools", "lib"):
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames[:] = sorted(d for d in dirnames if d not in ("tests", "fuzz", "bench"))
            for name in sorted(filenames):
                if not name.endswith((".cpp", ".h", ".c", ".cc", ".hpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                parts = rel.split("/")
                owner = parts[1] if parts[0] == "tools" and parts[1] in PAGES else None
                with open(path, encoding="utf-8", errors="replace") as f:
                    src = strip_comments(f.read())
                for m in call.finditer(src):
                    routine = m.group(1)
                    index, kind = CALLS[routine]
                    if routine in SCOPE and not SCOPE[routine].match(rel):
                        continue
                    args = call_arguments(src, m.end() - 1)
                    where = f"{rel}:{src.count(chr(10), 0, m.start()) + 1}"
                    if len(args) <= index or "..." in args:
                        continue  # the routine's declaration or definition
                    fmt = literal_value(args[index])
                    if fmt is None:
                        if kind == "format":
                            problems.append(f"{where}: {routine}() with a format that is not a literal; "
                                         "list the message in EXTRA")
                        continue
                    if routine in WRAPPERS:
                        frame = WRAPPERS[routine][1]
                        before, after = frame.split("%s", 1)
                        fmt = before + fmt + after
                    text = normalise_format(fmt)
                    for wrapper, (frame_file, frame) in WRAPPERS.items():
                        if rel == frame_file and routine == "QWarning" and fmt == frame:
                            frames_seen.add(wrapper)
                            text = ""
                    if not text.replace(MARK, "").strip():
                        continue  # passes on a text formatted elsewhere
                    found.setdefault(text, []).append((where, owner))
    for wrapper, (frame_file, frame) in WRAPPERS.items():
        if wrapper not in frames_seen:
            problems.append(f"{frame_file}: no QWarning(\"{frame}\", ...) framing {wrapper}(); "
                         "update WRAPPERS")
    for rel, text, evidence in EXTRA:
        try:
            with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
                src = f.read()
        except OSError:
            src = ""
        missing = [piece for piece in evidence if piece not in src]
        if missing:
            problems.append(f"{rel}: the message '{text}' is no longer built there "
                         f"({', '.join(missing)} not found); update EXTRA")
            continue
        owner = rel.split("/")[1] if rel.startswith("tools/") else None
        found.setdefault(normalise_format(text), []).append((rel, owner))
    return found


TROFF_ESCAPE = re.compile(r"\\(\(..|\[[^\]]*\]|f(?:\(..|\[[^\]]*\]|.)|.)")
TROFF_CHARS = {"-": "-", "e": "\\", "&": "", " ": " ", "~": " ", "%": "", ":": "", "|": "", "^": "",
               "(aq": "'", "[aq]": "'", "(dq": '"', "[dq]": '"', "(ga": "`", "[ga]": "`",
               "(ti": "~", "[ti]": "~", "(ha": "^", "[ha]": "^", "(rs": "\\", "[rs]": "\\",
               "(lq": '"', "(rq": '"', "[lq]": '"', "[rq]": '"', "(hy": "-", "[hy]": "-"}


def page_text(tag, where, problems):
    """The message text of an entry's tag line: escapes undone, each
    \\fI...\\fR span made one MARK."""
    out, italic, pos, span = [], False, 0, ""
    for m in TROFF_ESCAPE.finditer(tag):
        chunk = tag[pos:m.start()]
        pos = m.end()
        esc = m.group(1)
        if italic:
            span += chunk
        else:
            out.append(chunk)
        if esc == "fI" and not italic:
            italic, span = True, ""
        elif esc == "fR" and italic:
            if not span.strip():
                problems.append(f"{where}: an empty italic span")
            italic = False
            out.append(MARK)
        elif esc.startswith("f"):
            problems.append(f"{where}: \\{esc} out of place (placeholders are \\fIword\\fR, nothing else)")
        elif esc in TROFF_CHARS:
            if italic:
                span += TROFF_CHARS[esc]
            else:
                out.append(TROFF_CHARS[esc])
        else:
            problems.append(f"{where}: unknown escape \\{esc} in a message text")
    if italic:
        problems.append(f"{where}: an italic span without \\fR")
    out.append(tag[pos:])
    return "".join(out).strip()


def page_entries(path, problems):
    """{normalised text: line} of the page's MESSAGES section."""
    rel = os.path.basename(path)
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
    except OSError as e:
        problems.append(f"{rel}: can't read it ({e.strerror})")
        return {}
    for k, line in enumerate(lines, 1):
        for token in re.findall(r"@[A-Za-z_0-9]+@", line):
            if token != "@PROJECT_VERSION@":
                problems.append(f"{rel}:{k}: {token} is not substituted at configure time")
    entries, section = {}, None
    for k, line in enumerate(lines):
        if line.startswith(".SH"):
            section = line[3:].strip().strip('"')
            continue
        if section != "MESSAGES" or not re.match(r"^\.TP\b", line):
            continue
        where = f"{rel}:{k + 2}"
        tag = lines[k + 1] if k + 1 < len(lines) else ""
        if not tag.startswith("\\&"):
            problems.append(f"{where}: a MESSAGES entry whose tag line does not start with \\&: {tag!r}")
            continue
        text = page_text(tag, where, problems)
        if text in entries:
            problems.append(f"{where}: '{shown(text)}' listed again (first on line {entries[text]})")
            continue
        entries[text] = k + 2
    if not entries:
        problems.append(f"{rel}: no MESSAGES entries found")
    return entries


def run_groff(path, problems):
    groff = shutil.which("groff")
    if not groff:
        return
    proc = subprocess.run([groff, "-man", "-Tutf8", "-ww", "-z", path], capture_output=True, text=True)
    complaint = proc.stderr.strip()
    if proc.returncode != 0 or complaint:
        problems.append(f"{os.path.basename(path)}: groff -man -ww: status {proc.returncode}\n  {complaint}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True, help="the source tree")
    args = parser.parse_args()
    root = os.path.abspath(args.source)
    problems = []

    code = code_messages(root, problems)
    pages = {}
    for page in PAGES:
        path = os.path.join(root, "doc", f"{page}.1.in")
        pages[page] = page_entries(path, problems)
        run_groff(path, problems)

    for text, uses in sorted(code.items()):
        owners = {owner for _, owner in uses}
        where = ", ".join(w for w, _ in uses)
        for owner in sorted(o for o in owners if o):
            if text not in pages[owner]:
                problems.append(f"{owner}.1 lacks '{shown(text)}' ({where})")
        if None in owners and not any(text in pages[p] for p in PAGES):
            problems.append(f"no page lists '{shown(text)}' ({where})")
    for page, entries in pages.items():
        for text, line in sorted(entries.items(), key=lambda e: e[1]):
            owners = {owner for _, owner in code.get(text, [])}
            if not owners:
                problems.append(f"{page}.1.in:{line}: '{shown(text)}' is no message of the code")
            elif None not in owners and page not in owners:
                problems.append(f"{page}.1.in:{line}: '{shown(text)}' is printed only by "
                             f"{', '.join(sorted(owners))}")

    if problems:
        print("\n".join(problems))
        print(f"FAILED: {len(problems)} problem(s)")
        return 1
    counts = ", ".join(f"{p}.1 {len(pages[p])}" for p in PAGES)
    print(f"OK: {len(code)} code messages; entries: {counts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
