#!/usr/bin/python3
"""Log -> MAT the way a pandas user would: pandas.read_csv (C engine) + scipy.io.savemat.

An optional third argument sets read_csv's float_precision (default: pandas' own).
"""
import sys

import numpy as np
import pandas as pd
import scipy.io


def main(src, dst, precision=None):
    df = pd.read_csv(src, sep=" ", comment="#", engine="c", dtype=np.float64,
                     float_precision=precision)
    scipy.io.savemat(dst, {c: df[c].to_numpy() for c in df.columns})


if __name__ == "__main__":
    main(*sys.argv[1:4])
