#!/usr/bin/python3
"""The round trip: a log through tracepack, the MAT-file through traceunpack,
and the log it wrote through tracepack again. The second MAT-file must hold
the same fields in the same order and the same sample count as the first,
and every value must be what the C library's atof makes of the "%g" text of
the first value (six significant digits, NaN and infinities included).
scipy reads both MAT-files, so neither of our own readers judges itself.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
import scipy.io as sio

from interop_util import LIBC, bits, c_g, fail, failures

def run(program, args, cwd, label):
    proc = subprocess.run([program] + args, cwd=cwd, capture_output=True, timeout=300)
    err = proc.stderr.decode("latin-1")
    if proc.returncode != 0 or "Sanitizer" in err or "runtime error" in err:
        fail(f"{label}: status {proc.returncode}, stderr {err[-1500:]}")
    return proc


def fields_of(path):
    loaded = sio.loadmat(path)
    return [(k, v) for k, v in loaded.items() if not k.startswith("__")]


def round_trip(args, label, log_text, workdir):
    with open(os.path.join(workdir, "in.log"), "wb") as f:
        f.write(log_text.encode("latin-1"))
    run(args.tracepack, ["in.log", "first.mat"], workdir, f"{label}: tracepack")
    run(args.traceunpack, ["first.mat", "back.log"], workdir, f"{label}: traceunpack")
    run(args.tracepack, ["back.log", "second.mat"], workdir, f"{label}: tracepack again")
    try:
        first = fields_of(os.path.join(workdir, "first.mat"))
        second = fields_of(os.path.join(workdir, "second.mat"))
    except Exception as e:  # a missing or unreadable MAT-file
        fail(f"{label}: {e}")
        return
    if [n for n, _ in first] != [n for n, _ in second]:
        fail(f"{label}: fields {[n for n, _ in second]}, expected {[n for n, _ in first]}")
        return
    for (name, a), (_, b) in zip(first, second):
        if a.shape != b.shape:
            fail(f"{label}: field {name} has shape {b.shape}, expected {a.shape}")
            continue
        for k, (x, y) in enumerate(zip(a.flatten(), b.flatten())):
            want = LIBC.atof(c_g(float(x)).encode())
            if bits(float(y)) != bits(want) and not (np.isnan(y) and np.isnan(want)):
                fail(f"{label}: {name}[{k}] is {float(y)!r}, expected atof('{c_g(float(x))}')"
                     f" = {want!r}")
                break
    print(f"{label}: {len(first)} fields, {first[0][1].size if first else 0} samples compared")


def generated_log(rng):
    stress = [3.14159265, 1234567, 0.5, 2, -0.000123, 1e-300, 1e300, "nan", "inf", "-0.0",
              "-inf", 999999.5, 0.0001, 9.999995e-5, 123456789012, 5e-324]
    names = ["time", "speed", "stress", "tiny", "huge"]
    lines = ["# generated", " ".join(names)]
    for i in range(len(stress) * 50):
        row = [f"{i * 0.05:.17g}", f"{rng.normal(30, 10):.17g}", str(stress[i % len(stress)]),
               f"{rng.normal() * 1e-12:.17g}", f"{rng.normal() * 1e200:.17g}"]
        lines.append(" ".join(row))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tracepack", required=True)
    parser.add_argument("--traceunpack", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    if not args.traceunpack or not os.path.exists(args.traceunpack):
        print("traceunpack not built; skipped")
        return 0
    args.tracepack = os.path.abspath(args.tracepack)
    args.traceunpack = os.path.abspath(args.traceunpack)
    rng = np.random.default_rng(11)
    with tempfile.TemporaryDirectory(prefix="trace-roundtrip-") as workdir:
        with open(os.path.join(args.source, "samples", "drive.log"), "rb") as f:
            round_trip(args, "sample log", f.read().decode("latin-1"), workdir)
        round_trip(args, "values that stress %g", generated_log(rng), workdir)
    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
