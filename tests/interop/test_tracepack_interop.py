"""tracepack's MAT-files read back by independent readers.

Every file is loaded by scipy.io.loadmat and GNU Octave (and listed by
matio's matdump); names must come in field order, shapes must be 1 x N and
every value must equal, bit for bit, what the C library's atof makes of the
log's field text.
"""
import argparse
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

import scipy.io

from interop_util import LIBC, bits, fail, failures

def check(cond, what):
    if not cond:
        fail(what)


def expected_table(log_bytes):
    """The table the reader rules give: names and columns of atof values."""
    lines = [l for l in log_bytes.split(b"\n")]
    if lines and lines[-1] == b"":
        lines.pop()
    data = [l for l in lines if l[:1] not in (b"#", b"\0")]
    split = lambda l: [f.replace(b"\r", b"") for f in
                       __import__("re").split(b" +", l.replace(b"\r", b""))]
    names = split(data[0])
    cols = [[] for _ in names]
    for line in data[1:]:
        fields = split(line) if line else [b""]
        for j in range(len(names)):
            f = fields[j] if j < len(fields) else b""
            cols[j].append(LIBC.atof(f))
    return [n.decode("latin-1") for n in names], cols


def run_tracepack(exe, workdir, log, mat):
    r = subprocess.run([exe, log, mat], cwd=workdir, capture_output=True, timeout=300)
    check(r.returncode == 0, f"tracepack status {r.returncode} on {log}")
    return r


def scipy_table(path):
    names = [n for n, _, _ in scipy.io.whosmat(path)]
    m = scipy.io.loadmat(path)
    return names, m


def octave_values(path, names):
    """Each variable's values from Octave as exact hexadecimal bit patterns."""
    script = (f"s = load('-mat', '{path}');"
              "f = fieldnames(s);"
              "for i = 1:numel(f)"
              "  v = s.(f{i});"
              "  printf('%s %dx%d', f{i}, rows(v), columns(v));"
              "  if numel(v) > 0, c = cellstr(num2hex(v(:))); printf(' %s', c{:}); end;"
              "  printf('\\n');"
              "end")
    r = subprocess.run(["octave", "--no-gui", "--quiet", "--norc", "--eval", script],
                       capture_output=True, text=True, timeout=300)
    check(r.returncode == 0, f"octave failed on {path}: {r.stderr[-400:]}")
    return r.stdout


def compare(tag, path, names, cols):
    got_names, m = scipy_table(path)
    check(got_names == names, f"{tag}: scipy names {got_names[:5]} != {names[:5]}")
    for name, col in zip(names, cols):
        if name not in m:
            check(False, f"{tag}: {name} missing")
            continue
        v = m[name]
        check(v.shape == (1, len(col)), f"{tag}: {name} shape {v.shape}")
        same = all(bits(float(a)) == bits(b) or (math.isnan(a) and math.isnan(b))
                   for a, b in zip(v.ravel(), col))
        check(same, f"{tag}: {name} values differ from atof")
    out = octave_values(path, names)
    lines = out.strip().split("\n") if out.strip() else []
    check(len(lines) == len(names), f"{tag}: octave saw {len(lines)} variables")
    for line, name, col in zip(lines, names, cols):
        parts = line.split()
        check(parts[0] == name and parts[1] == f"1x{len(col)}", f"{tag}: octave {parts[:2]}")
        vals = [struct.unpack(">d", bytes.fromhex(h))[0] for h in parts[2:]]
        same = len(vals) == len(col) and all(
            bits(a) == bits(b) or (math.isnan(a) and math.isnan(b)) for a, b in zip(vals, col))
        check(same, f"{tag}: octave values of {name}")
    r = subprocess.run(["matdump", "-f", "whos", path], capture_output=True, text=True,
                       timeout=120)
    rows = [l.split() for l in r.stdout.splitlines()[1:] if l.strip()]
    want = [[n, f"1x{len(c)}"] for n, c in zip(names, cols) if n]
    check(r.returncode == 0 and [row[:2] for row in rows if len(row) >= 4] == want,
          f"{tag}: matdump listing: {r.stdout[-300:]} {r.stderr[-300:]}")


def random_log(rng, fields, samples):
    spellings = [lambda v: "%g" % v, lambda v: "%.17g" % v, lambda v: "%.3e" % v,
                 lambda v: "%a" % v, lambda v: "%.0f" % v, lambda v: "+%.5f" % abs(v),
                 lambda v: "%.25g" % v]
    names = " ".join(f"ch{i}" for i in range(fields))
    lines = ["# generated", names]
    for _ in range(samples):
        row = []
        for _ in range(fields):
            v = rng.choice([rng.uniform(-1e3, 1e3), rng.uniform(-1, 1) * 10 ** rng.randint(-320, 308),
                            float(rng.randint(-5, 5)), struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]])
            if math.isnan(v) or math.isinf(v):
                v = 0.5
            row.append(rng.choice(spellings)(v))
        lines.append(" ".join(row))
    return ("\r\n".join(lines) + "\r\n").encode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tracepack", required=True)
    ap.add_argument("--traceunpack", default="")
    ap.add_argument("--source", required=True)
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="trace-interop-")
    try:
        rng = random.Random(20261208)
        logs = {
            "sample": open(os.path.join(a.source, "samples", "drive.log"), "rb").read(),
            "random": random_log(rng, 12, 3000),
            "quirks": b"t  v w\n1 2\n\n0x1p-3 -inf nan(7) 3\n# c\n 9 1e-400 4.9e-324 7e\n",
            "single": b"only\n42\n",
        }
        for tag, content in logs.items():
            log = os.path.join(work, tag + ".log")
            mat = os.path.join(work, tag + ".mat")
            open(log, "wb").write(content)
            run_tracepack(a.tracepack, work, log, mat)
            names, cols = expected_table(content)
            compare(tag, mat, names, cols)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} failure(s)", file=sys.stderr)
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
