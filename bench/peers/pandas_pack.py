#!/usr/bin/python3
"""Log -> MAT the way a pandas user would: pandas.read_csv (C engine) + scipy.io.savemat.

read_csv's float_precision is "round_trip" (Python's exact conversion): with
pandas' default ("high") a few values of the M log come out one unit in the
last place off (e.g. -6.06378e-18), so the output would not equal ours.
An optional third argument sets another float_precision ("high", "legacy").
"""
import sys

import numpy as np
import pandas as pd
import scipy.io


def main(src, dst, precision="round_trip"):
    df = pd.read_csv(src, sep=" ", comment="#", engine="c", dtype=np.float64,
                     float_precision=precision)
    scipy.io.savemat(dst, {c: df[c].to_numpy() for c in df.columns})


if __name__ == "__main__":
    main(*sys.argv[1:4])
