#!/usr/bin/python3
"""Log -> MAT the way a numpy user would: numpy.loadtxt + scipy.io.savemat."""
import sys

import numpy as np
import scipy.io


def main(src, dst):
    skip = 0
    with open(src) as f:
        for line in f:
            skip += 1
            if not line.startswith("#"):
                names = line.split()
                break
    data = np.loadtxt(src, comments="#", skiprows=skip, ndmin=2)
    scipy.io.savemat(dst, {n: data[:, i] for i, n in enumerate(names)})


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
