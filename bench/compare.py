#!/usr/bin/python3
"""Equality checks the benchmark runs on every peer's output before timing it.

    compare.py mat OURS.mat THEIRS.mat
    compare.py log OURS.log THEIRS.log

MAT-files: the same variable names in the same order, every one a 1xN double
row vector of the same N, values equal bit for bit.
Logs: the header comment lines match "# Log file written by traceunpack on
DD-MM-YYYY, HH:MM:SS (N samples)" with the same N, every other byte equal.
Prints nothing and exits 0 when equal, prints the first difference and
exits 1 otherwise.
"""
import mmap
import re
import sys

import numpy as np
import scipy.io

HEADER = re.compile(rb"# Log file written by traceunpack on "
                    rb"\d\d-\d\d-\d{4}, \d\d:\d\d:\d\d \((\d+) samples\)\n")


def compare_mat(ours, theirs):
    a_list = scipy.io.whosmat(ours)
    b_list = scipy.io.whosmat(theirs)
    a_names = [w[0] for w in a_list]
    b_names = [w[0] for w in b_list]
    if a_names != b_names:
        return "names differ: %s vs %s" % (a_names[:5], b_names[:5])
    for (name, ashape, aclass), (_, bshape, bclass) in zip(a_list, b_list):
        if ashape != bshape or ashape[0] != 1:
            return "%s: shape %s vs %s" % (name, ashape, bshape)
        if aclass != "double" or bclass != "double":
            return "%s: class %s vs %s" % (name, aclass, bclass)
    a = scipy.io.loadmat(ours)
    b = scipy.io.loadmat(theirs)
    for name in a_names:
        x, y = a[name], b[name]
        if x.dtype != np.float64 or y.dtype != np.float64:
            return "%s: dtype %s vs %s" % (name, x.dtype, y.dtype)
        xb, yb = x.view(np.uint64), y.view(np.uint64)
        if not np.array_equal(xb, yb):
            i = int(np.flatnonzero(xb.ravel() != yb.ravel())[0])
            n = int(np.count_nonzero(xb.ravel() != yb.ravel()))
            return "%s: %d values differ, first at %d: %r vs %r" % (
                name, n, i, float(x.ravel()[i]), float(y.ravel()[i]))
    return None


def compare_log(ours, theirs):
    with open(ours, "rb") as fa, open(theirs, "rb") as fb:
        a = mmap.mmap(fa.fileno(), 0, access=mmap.ACCESS_READ)
        b = mmap.mmap(fb.fileno(), 0, access=mmap.ACCESS_READ)
        ma, mb = HEADER.match(a), HEADER.match(b)
        if not ma or not mb:
            return "header line: %r vs %r" % (a[:80], b[:80])
        if ma.group(1) != mb.group(1):
            return "sample counts in header: %s vs %s" % (ma.group(1), mb.group(1))
        ra, rb = a[ma.end():], b[mb.end():]
        if ra != rb:
            n = min(len(ra), len(rb))
            lo = 0
            step = 1 << 20
            while lo < n and ra[lo:lo + step] == rb[lo:lo + step]:
                lo += step
            i = next((k for k in range(lo, min(n, lo + step)) if ra[k] != rb[k]), n)
            line = ra.count(b"\n", 0, i) + 2
            return "bytes differ at line %d: %r vs %r (sizes %d vs %d)" % (
                line, ra[max(0, i - 30):i + 30], rb[max(0, i - 30):i + 30],
                len(ra), len(rb))
    return None


def main(argv):
    kind, ours, theirs = argv[1:4]
    err = compare_mat(ours, theirs) if kind == "mat" else compare_log(ours, theirs)
    if err:
        print(err)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
