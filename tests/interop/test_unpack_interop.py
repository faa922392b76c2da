#!/usr/bin/python3
"""traceunpack against MAT-files of writers other than our own.

Files are written here by scipy (level 4, level 5, level 5 compressed), by
GNU Octave (-v4, -v6, -v7) and by h5py in MATLAB's 7.3 layout; then every
MAT-file that ships with Debian's scipy as test data, most of them written
by MATLAB itself. For each file the log must hold every variable in file
order with the values MATLAB's double() gives (real part of complex values,
sparse matrices in full, NaN for cells, structs, objects and function
handles, NaN padding up to the longest variable), each exactly as the C
library's "%g" prints it. Damaged files must end normally, without a
sanitizer report, with a warning that names the damage.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import warnings

import numpy as np
import scipy.io as sio
import scipy.sparse as sparse

from interop_util import c_g as g, fail, failures

BANNER = "Traceunpack 1.0\n"


def expected_body(variables):
    """The log body for (name, dims, values) triples, first 100 only."""
    variables = variables[:100]
    records = max((len(v) for _, _, v in variables), default=0)
    lines = [" ".join(name for name, _, _ in variables)]
    for i in range(records):
        lines.append(" ".join(g(v[i]) if i < len(v) else g(float("nan"))
                              for _, _, v in variables))
    return "\n".join(lines) + "\n"


def run_unpack(args, mat_path, workdir):
    log = os.path.join(workdir, "out.log")
    if os.path.exists(log):
        os.remove(log)
    proc = subprocess.run([args.traceunpack, mat_path, "out.log"], cwd=workdir,
                          capture_output=True, timeout=300)
    out = proc.stdout.decode("latin-1")
    err = proc.stderr.decode("latin-1")
    body = None
    if os.path.exists(log):
        with open(log, "rb") as f:
            text = f.read().decode("latin-1")
        body = text[text.find("\n") + 1:]
    return proc.returncode, out, err, body


def sane_run(label, rc, err):
    ok = True
    if rc != 0:
        fail(f"{label}: exit status {rc}")
        ok = False
    for marker in ("AddressSanitizer", "runtime error", "LeakSanitizer"):
        if marker in err:
            fail(f"{label}: {marker} report:\n{err[-2000:]}")
            ok = False
    return ok


def check_conversion(args, label, mat_path, variables, workdir, warn_names=()):
    """variables: (name, dims, values) in file order."""
    rc, out, err, body = run_unpack(args, mat_path, workdir)
    if not sane_run(label, rc, err):
        return
    dims_lines = "".join("x".join(str(d) for d in dims) + f" (={len(values)})\n"
                         for _, dims, values in variables[:100])
    if out != BANNER + dims_lines:
        fail(f"{label}: standard output\n{out!r}\nexpected\n{(BANNER + dims_lines)!r}")
    if body is None:
        fail(f"{label}: no log written; stderr: {err}")
        return
    want = expected_body(variables)
    if body != want:
        got_lines, want_lines = body.split("\n"), want.split("\n")
        for k, (a, b) in enumerate(zip(got_lines, want_lines)):
            if a != b:
                fail(f"{label}: log line {k + 2}: {a[:200]!r}, expected {b[:200]!r}")
                break
        else:
            fail(f"{label}: log has {len(got_lines)} lines, expected {len(want_lines)}")
    for name in warn_names:
        if f"'{name}'" not in err:
            fail(f"{label}: no warning naming '{name}' in {err!r}")


def as_doubles(value):
    """What MATLAB's double() makes of a value loadmat returned, column-major;
    None for a value that holds no numbers (cell, struct, object, function)."""
    if sparse.issparse(value):
        return np.real(value.toarray()).astype(float).flatten(order="F")
    a = np.asarray(value)
    if a.dtype.kind == "U":
        return np.array([float(ord(c)) for c in a.flatten(order="F")], dtype=float)
    if a.dtype.kind in "biufc":
        return np.real(a).astype(float).flatten(order="F")
    return None


# --- files written here ---------------------------------------------------

def scipy_variables(level):
    rng = np.random.default_rng(3)
    v = [
        ("dbl", rng.normal(0, 1000, (3, 2))),
        ("cplx", np.array([[1 + 2j, -3.5 - 1j, 1e-7 + 1j]])),
        ("chars", np.array(["hello"])),
        ("sp", sparse.csc_matrix(np.array([[0, 1.5, 0, 0], [2, 0, 0, -3], [0, 0, 0, 0]]))),
        ("empty", np.zeros((0, 0))),
    ]
    if level != "4":
        v += [
            ("sgl", np.array([[0.1, -2.5], [1e30, 3.0]], dtype=np.float32)),
            ("i8", np.array([[-128, 0, 127]], dtype=np.int8)),
            ("u8", np.array([[0, 255]], dtype=np.uint8)),
            ("i16", np.array([[-32768, 32767]], dtype=np.int16)),
            ("u16", np.array([[65535]], dtype=np.uint16)),
            ("i32", np.array([[-2147483648, 2147483647]], dtype=np.int32)),
            ("u32", np.array([[4294967295]], dtype=np.uint32)),
            ("i64", np.array([[-2**63, 2**63 - 1, 12345678901234]], dtype=np.int64)),
            ("u64", np.array([[2**64 - 1, 1]], dtype=np.uint64)),
            ("flags", np.array([[True, False, True]])),
            ("cube", np.arange(12.0).reshape(2, 3, 2)),
        ]
    return v


def test_scipy_written(args, workdir):
    for level, compress in (("4", False), ("5", False), ("5", True)):
        label = f"scipy level {level}{' compressed' if compress else ''}"
        path = os.path.join(workdir, "scipy.mat")
        variables = scipy_variables(level)
        sio.savemat(path, dict(variables), format=level, do_compression=compress)
        # scipy reads back what it wrote; its view is the expectation.
        loaded = sio.loadmat(path, chars_as_strings=False)
        expected = [(n, np.shape(loaded[n]), as_doubles(loaded[n])) for n, _ in variables]
        check_conversion(args, label, path, expected, workdir)

    # Cells and structs hold no numbers: NaN per element and a warning.
    path = os.path.join(workdir, "cells.mat")
    cell = np.empty((1, 3), dtype=object)
    cell[0, 0], cell[0, 1], cell[0, 2] = 1.0, "x", np.zeros(2)
    sio.savemat(path, {"before": np.array([[1.0, 2.0]]), "cel": cell,
                       "st": {"a": 1.0, "b": "text"}, "after": np.array([[5.0]])},
                do_compression=True)
    nan = float("nan")
    check_conversion(args, "scipy cell and struct", path,
                     [("before", (1, 2), [1.0, 2.0]), ("cel", (1, 3), [nan] * 3),
                      ("st", (1, 1), [nan]), ("after", (1, 1), [5.0])],
                     workdir, warn_names=("cel", "st"))


def test_octave_written(args, workdir):
    if not shutil.which("octave"):
        print("note: octave not installed, its files skipped")
        return
    script = ("x = [1 2; 3 4; 5 6] / 3; y = int16([1 -2 300]); z = 'hi';"
              " w = single([0.1 2.5]); c = [1+2i, 3-4i];"
              " save('-v7', 'o7.mat', 'x', 'y', 'z', 'w', 'c');"
              " save('-v6', 'o6.mat', 'x', 'y', 'z', 'w', 'c');"
              " save('-v4', 'o4.mat', 'x', 'z', 'c');")
    subprocess.run(["octave", "--no-gui", "--no-window-system", "--norc", "-q", "--eval", script],
                   cwd=workdir, capture_output=True, timeout=300)
    x = (np.array([[1, 2], [3, 4], [5, 6]]) / 3).flatten(order="F")
    full = [("x", (3, 2), x), ("y", (1, 3), [1.0, -2.0, 300.0]), ("z", (1, 2), [104.0, 105.0]),
            ("w", (1, 2), [float(np.float32(0.1)), 2.5]), ("c", (1, 2), [1.0, 3.0])]
    for name, variables in (("o7.mat", full), ("o6.mat", full),
                            ("o4.mat", [full[0], full[2], full[4]])):
        path = os.path.join(workdir, name)
        if not os.path.exists(path):
            fail(f"octave did not write {name}")
            continue
        check_conversion(args, f"octave {name}", path, variables, workdir)


def write_v73(path, datasets, track_order):
    """A MAT-file in MATLAB's 7.3 layout: a 512-byte MAT header as the HDF5
    user block, one dataset per variable with its class attribute, stored
    with the dimensions reversed as MATLAB does."""
    import h5py
    with h5py.File(path, "w", userblock_size=512, track_order=track_order) as f:
        for name, cls, array in datasets:
            d = f.create_dataset(name, data=np.asarray(array).T)
            d.attrs["MATLAB_class"] = np.bytes_(cls)
            if cls == "char":
                d.attrs["MATLAB_int_decode"] = np.int32(2)
    header = b"MATLAB 7.3 MAT-file, Platform: GLNXA64, Created on: Mon Jan  1 00:00:00 2024 HDF5 schema 1.00 ."
    header = header.ljust(116, b" ") + b"\x00" * 8 + b"\x00\x02" + b"IM"
    with open(path, "r+b") as f:
        f.write(header)


def test_h5py_written(args, workdir):
    try:
        import h5py  # noqa: F401
    except ImportError:
        print("note: h5py not installed, 7.3 files skipped")
        return
    m = np.array([[1.0, 2.0], [3.0, 4.0], [5.0, 6.0]])
    datasets = [
        ("zeta", "double", m),
        ("alpha", "int32", np.array([[7, -8, 9]], dtype=np.int32)),
        ("mid", "char", np.array([[ord("o"), ord("k")]], dtype=np.uint16)),
        ("flag", "logical", np.array([[1, 0]], dtype=np.uint8)),
        ("cube", "double", np.arange(24.0).reshape(2, 3, 4)),
    ]
    expected = {
        "zeta": ((3, 2), [1.0, 3.0, 5.0, 2.0, 4.0, 6.0]),
        "alpha": ((1, 3), [7.0, -8.0, 9.0]),
        "mid": ((1, 2), [111.0, 107.0]),
        "flag": ((1, 2), [1.0, 0.0]),
        "cube": ((2, 3, 4), list(np.arange(24.0).reshape(2, 3, 4).flatten(order="F"))),
    }
    # With creation order tracked the file keeps write order; without it
    # names are all the order there is.
    for track_order, order in ((True, [d[0] for d in datasets]),
                               (False, sorted(d[0] for d in datasets))):
        path = os.path.join(workdir, "v73.mat")
        write_v73(path, datasets, track_order)
        check_conversion(args, f"h5py 7.3 (creation order tracked: {track_order})", path,
                         [(n, expected[n][0], expected[n][1]) for n in order], workdir)


# --- scipy's test data ----------------------------------------------------

# Files scipy reads but our reader refuses; kept in view until the MAT layer
# takes them (each still must not crash).
READER_GAPS = {
    "logical_sparse.mat": "logical sparse data typed as double but stored as bytes",
    "broken_utf8.mat": "invalid UTF-8 in a character array (scipy substitutes)",
}


def scipy_data_folder():
    import scipy.io.matlab
    return os.path.join(os.path.dirname(scipy.io.matlab.__file__), "tests", "data")


def test_scipy_data(args, workdir):
    folder = scipy_data_folder()
    files = sorted(glob.glob(os.path.join(folder, "*.mat")))
    if not files:
        fail(f"no MAT-files found in {folder}")
        return
    readable = damaged = 0
    for path in files:
        name = os.path.basename(path)
        label = f"scipy data {name}"
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                loaded = sio.loadmat(path, chars_as_strings=False)
        except NotImplementedError:
            loaded = None  # 7.3: scipy cannot say; it must still convert
            is_damaged = False
        except Exception:
            loaded, is_damaged = None, True
        else:
            is_damaged = False

        if loaded is None:
            rc, out, err, body = run_unpack(args, path, workdir)
            if not sane_run(label, rc, err):
                continue
            if is_damaged:
                damaged += 1
                if "damaged" not in err and "can't open Matlab file" not in err:
                    # scipy is stricter in places (a non-ASCII name): fine, as
                    # long as what we took from it is a complete log.
                    if body is None:
                        fail(f"{label}: neither converted nor reported: {err!r}")
                    else:
                        print(f"note: {name}: scipy refuses it, we convert it")
            elif body is None or body.split("\n", 1)[0] == "":
                fail(f"{label}: 7.3 file gave no fields: {err!r}")
            continue

        if name in READER_GAPS:
            rc, out, err, body = run_unpack(args, path, workdir)
            sane_run(label, rc, err)
            print(f"note: {name}: known reader gap ({READER_GAPS[name]})")
            continue
        readable += 1
        variables, no_numbers = [], []
        for var, value in loaded.items():
            if var.startswith("__"):
                continue
            values = as_doubles(value)
            size = int(np.prod(np.shape(value)))
            if values is None:
                values = [float("nan")] * size
                no_numbers.append(var)
            variables.append((var, np.shape(value), list(values)))
        check_conversion(args, label, path, variables, workdir, warn_names=no_numbers)
    print(f"scipy data: {readable} readable files compared, {damaged} damaged files survived")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tracepack", required=True)
    parser.add_argument("--traceunpack", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    if not args.traceunpack or not os.path.exists(args.traceunpack):
        print("traceunpack not built; skipped")
        return 0
    args.traceunpack = os.path.abspath(args.traceunpack)
    with tempfile.TemporaryDirectory(prefix="trace-unpack-interop-") as workdir:
        test_scipy_written(args, workdir)
        test_octave_written(args, workdir)
        test_h5py_written(args, workdir)
        test_scipy_data(args, workdir)
    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
