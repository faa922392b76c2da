#!/usr/bin/python3
"""Deterministic generator of realistic telemetry logs for the benchmark.

    genlog.py S|M|L OUT.log
    genlog.py --fields F --samples N OUT.log

The log looks like one traceunpack writes: the header comment
"# Log file written by traceunpack on DD-MM-YYYY, HH:MM:SS (N samples)"
(a fixed date, so that the bytes never change), a line of field names and
one line per sample, every value printed with "%g", separated by one space.

Columns: a time column at 1 kHz, then channels of several kinds in turn:
smooth signals (speed, rpm), integers (gear, a 0/1 flag, a frame counter
that outgrows six digits and so needs exponents), signals around zero
(steering, lateral acceleration with noise), tiny values that always need
exponents (yaw rate, a sensor bias), and mostly-zero pulses (brake).
The same arguments always give the same bytes.
"""
import os
import sys

import numpy as np

SIZES = {"S": (20, 100_000), "M": (50, 400_000), "L": (100, 1_000_000)}
HEADER_DATE = "01-03-2024, 09:30:00"
BLOCK = 20_000
SEED = 20240301

KINDS = ["speed", "gear", "steer", "yaw_rate", "rpm", "lat_acc",
         "frame", "brake", "bias", "flag"]


def field_names(nfields):
    names = ["time"]
    for k in range(1, nfields):
        names.append("%s_%d" % (KINDS[(k - 1) % len(KINDS)], k))
    return names


def field_params(nfields):
    params = []
    for k in range(nfields):
        rng = np.random.default_rng([SEED, k])
        params.append((rng.uniform(0.01, 0.2),      # frequency, Hz
                       rng.uniform(0, 2 * np.pi),   # phase
                       rng.uniform(0.5, 2.0)))      # amplitude scale
    return params


def block_values(start, n, nfields, params):
    i = np.arange(start, start + n, dtype=np.float64)
    t = i * 0.001
    noise_rng = np.random.default_rng([SEED, 1_000_000 + start // BLOCK])
    out = np.empty((n, nfields), dtype=np.float64)
    out[:, 0] = t
    for k in range(1, nfields):
        f, ph, a = params[k]
        w = 2 * np.pi * f * t + ph
        kind = KINDS[(k - 1) % len(KINDS)]
        if kind == "speed":
            v = 25 + 12 * a * np.sin(w) + 3 * np.sin(3.1 * w)
        elif kind == "gear":
            v = np.clip(np.floor(3.5 + 2.9 * np.sin(w)), 1, 6)
        elif kind == "steer":
            v = 0.4 * a * np.sin(w) * np.cos(0.37 * w)
        elif kind == "yaw_rate":
            v = 3e-4 * a * np.sin(w)
        elif kind == "rpm":
            v = 3500 + 2400 * np.sin(w) * a / 2
        elif kind == "lat_acc":
            v = 4 * a * np.sin(w) + 0.05 * noise_rng.standard_normal(n)
        elif kind == "frame":
            v = i * (k + 1) + 999_000
        elif kind == "brake":
            s = np.sin(w)
            v = np.where(s > 0.8, 120 * a * (s - 0.8), 0.0)
        elif kind == "bias":
            v = -2.5e-9 * a * (1 + np.cos(w))
        else:  # flag
            v = (np.sin(w) > 0.3).astype(np.float64)
        out[:, k] = v
    return out


def write_log(path, nfields, nsamples):
    names = field_names(nfields)
    params = field_params(nfields)
    rowfmt = " ".join(["%g"] * nfields) + "\n"
    tmp = path + ".part"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write("# Log file written by traceunpack on %s (%d samples)\n"
                % (HEADER_DATE, nsamples))
        f.write(" ".join(names) + "\n")
        for start in range(0, nsamples, BLOCK):
            n = min(BLOCK, nsamples - start)
            vals = block_values(start, n, nfields, params)
            f.write((rowfmt * n) % tuple(vals.ravel().tolist()))
    os.replace(tmp, path)


def main(argv):
    args = argv[1:]
    if len(args) == 2 and args[0] in SIZES:
        nfields, nsamples = SIZES[args[0]]
        out = args[1]
    elif len(args) == 5 and args[0] == "--fields" and args[2] == "--samples":
        nfields, nsamples, out = int(args[1]), int(args[3]), args[4]
    else:
        sys.stderr.write(__doc__)
        return 2
    write_log(out, nfields, nsamples)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
