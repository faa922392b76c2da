#!/usr/bin/python3
"""MAT -> log the way a numpy user would: scipy.io.loadmat + numpy.savetxt(fmt='%g')."""
import sys
import time

import numpy as np
import scipy.io


def main(src, dst):
    d = scipy.io.loadmat(src)
    names = [k for k in d if not k.startswith("__")]
    table = np.column_stack([d[n].ravel() for n in names])
    with open(dst, "w") as f:
        f.write("# Log file written by traceunpack on %s (%d samples)\n"
                % (time.strftime("%d-%m-%Y, %H:%M:%S"), table.shape[0]))
        f.write(" ".join(names) + "\n")
        np.savetxt(f, table, fmt="%g", delimiter=" ")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
