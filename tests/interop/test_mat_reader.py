"""Interop of the MAT layer with independent readers and writers.

Files written by scipy.io.savemat (levels 4 and 5, plain and compressed, every
class), by GNU Octave and by h5py (the 7.3 layout) and scipy's own collection
of MATLAB-written test files are read through matcat (a test helper over our
reader) and compared with scipy.io.loadmat; files our writers make are loaded
by scipy, Octave and matdump. Damaged files must give a warning, never a
crash, a sanitizer report or a hang.
"""
import argparse
import glob
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import scipy.io as sio
import scipy.sparse as sp

ARGS = None
SCIPY_DATA = os.path.join(os.path.dirname(sio.__file__), 'matlab', 'tests', 'data')

# scipy's files that our strict reader refuses although scipy reads them, and
# why; every other file must read exactly as scipy reads it.
STRICTER_THAN_SCIPY = {}

# scipy's files it cannot read itself: damaged ones (which must only give a
# warning) and ones we read although scipy does not.
DAMAGED = {
    'bad_miuint32.mat': 'dimensions overflow: the real part holds 80 bytes for 21474836490 values',
    'corrupted_zlib_checksum.mat': 'zlib check value wrong (the stream is inflated to its end)',
    'corrupted_zlib_data.mat': 'corrupt deflate data in the third variable',
    'malformed1.mat': 'an element claims more bytes than the file holds',
}
WE_READ = {'bad_miutf8_array_name.mat', 'testhdf5_7.4_GLNX86.mat'}


def matcat(*args, stdin=None, timeout=120):
    """Runs matcat in a scratch directory (QLOG.txt lands there)."""
    work = tempfile.mkdtemp(prefix='matcat.')
    try:
        env = dict(os.environ, ASAN_OPTIONS='allocator_may_return_null=0:detect_leaks=1',
                   UBSAN_OPTIONS='halt_on_error=1:print_stacktrace=1')
        p = subprocess.run([ARGS.matcat] + list(args), input=stdin, capture_output=True, text=True,
                           errors='surrogateescape', cwd=work, timeout=timeout, env=env)
        return p
    finally:
        shutil.rmtree(work, ignore_errors=True)


def read_ours(path):
    p = matcat(path)
    if 'Sanitizer' in p.stderr or 'runtime error' in p.stderr:
        raise AssertionError('sanitizer report on %s:\n%s' % (path, p.stderr[-3000:]))
    assert p.returncode in (0, 2), (path, p.returncode, p.stderr[-2000:])
    variables = []
    lines = p.stdout.split('\n')
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith('V '):
            name, dims = line[2:].rsplit('\t', 1)
            values = [float(v) for v in lines[i + 1].split()] if lines[i + 1] else []
            variables.append((name, tuple(int(d) for d in dims.split('x')), np.array(values)))
            i += 2
        else:
            i += 1
    return variables, p


def expected_scipy(path, **kw):
    """(name, dims, values or None) per variable, None standing for NaN."""
    d = sio.loadmat(path, chars_as_strings=False, squeeze_me=False, **kw)
    out = []
    for name, v in d.items():
        if name.startswith('__'):
            continue
        if sp.issparse(v):
            out.append((name, v.shape, np.asarray(v.toarray(), dtype=complex).real.flatten(order='F')))
        elif isinstance(v, np.ndarray) and v.dtype.kind in 'biufc':
            out.append((name, v.shape, np.real(v).astype(float).flatten(order='F')))
        elif isinstance(v, np.ndarray) and v.dtype.kind == 'U':
            codes = np.vectorize(lambda c: ord(c) if c else 0, otypes=[float])(v) if v.size else np.zeros(0)
            out.append((name, v.shape, np.asarray(codes).flatten(order='F')))
        else:
            out.append((name, getattr(v, 'shape', (1, 1)), None))
    return out


def same_values(ours, theirs):
    if theirs is None:
        return all(math.isnan(x) for x in ours)
    if len(ours) != len(theirs):
        return False
    return all((a == b) or (math.isnan(a) and math.isnan(b)) for a, b in zip(ours, theirs))


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='mat_interop.')

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def assertReadsLikeScipy(self, path, **kw):
        ours, p = read_ours(path)
        theirs = expected_scipy(path, **kw)
        self.assertEqual([v[0] for v in ours], [v[0] for v in theirs], path)
        for (name, dims, values), (_, tdims, tvalues) in zip(ours, theirs):
            if tvalues is not None:
                self.assertEqual(dims, tuple(tdims), '%s: %s' % (path, name))
            self.assertTrue(same_values(values, tvalues), '%s: %s: %s vs %s' % (path, name, values[:10],
                                                                                None if tvalues is None else tvalues[:10]))
        self.assertNotIn('damaged', p.stderr, path)
        return ours, p


class ScipyWritten(Case):
    """Every class, both levels, plain and compressed, as scipy writes them."""

    def variables(self):
        rng = np.random.default_rng(7)
        v = {
            'd': rng.normal(size=(3, 4)) * 1e5,
            'tiny': np.array([[5e-324, -0.0, np.inf, -np.inf, np.nan]]),
            'col': np.arange(7.0).reshape(7, 1),
            'cube': np.arange(24.0).reshape(2, 3, 4),
            'empty': np.zeros((0, 3)),
            'f': rng.normal(size=(2, 5)).astype(np.float32),
            'z': np.array([[1 + 2j, -3.5 - 1j]]),
            'sp': sp.csc_matrix(np.array([[0, 2.5, 0], [1, 0, 0], [0, 0, -7]])),
            'spz': sp.csc_matrix(np.array([[0, 1j], [2 + 1j, 0]])),
            'spempty': sp.csc_matrix((4, 5)),
            'txt': np.array(['hello']),
            'uni': np.array(['grüße ✓']),
            'lg': np.array([[True, False, True]]),
        }
        for t in ('int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64'):
            info = np.iinfo(t)
            v[t] = np.array([[info.min, info.max, 0, 1, 100]], dtype=t)
        return v

    def test_level5_plain_and_compressed(self):
        for compress in (False, True):
            path = os.path.join(self.dir, 'v5_%d.mat' % compress)
            v = self.variables()
            v['cell'] = np.array([[np.array([[1.0]]), np.array(['x'])]], dtype=object)
            v['st'] = {'a': 1.0, 'b': np.array([[1, 2]])}
            sio.savemat(path, v, do_compression=compress)
            ours, p = self.assertReadsLikeScipy(path)
            self.assertIn("'cell' holds no numbers (cell array)", p.stderr)
            self.assertIn("'st' holds no numbers (struct)", p.stderr)
            self.assertIn('REMAINING %d' % len(v), p.stdout)

    def test_level4(self):
        path = os.path.join(self.dir, 'v4.mat')
        v = {k: x for k, x in self.variables().items()
             if k not in ('cube', 'uni', 'lg', 'int8', 'int64', 'uint64', 'uint32')}
        sio.savemat(path, v, format='4')
        self.assertReadsLikeScipy(path)

    def test_level4_every_storage_type_and_byte_order(self):
        # scipy writes level 4 only as doubles in host order: the rest by hand.
        path = os.path.join(self.dir, 'v4_types.mat')
        values = np.array([[1, 2, 250], [3, 4, 5]], dtype=float)
        with open(path, 'wb') as f:
            for order, m in (('<', 0), ('>', 1)):
                for p, t in enumerate(['f8', 'f4', 'i4', 'i2', 'u2', 'u1']):
                    name = ('%s_%s\0' % ('be' if m else 'le', t)).encode()
                    f.write(struct.pack(order + '5i', m * 1000 + p * 10, 2, 3, 0, len(name)) + name)
                    f.write(values.astype(order + t).tobytes(order='F'))
                # Text and a sparse matrix (1-based triplets closed by the size).
                name = b'txt\0'
                f.write(struct.pack(order + '5i', m * 1000 + 1, 1, 2, 0, 4) + name)
                f.write(np.array([72.0, 105.0]).astype(order + 'f8').tobytes())
                trip = np.array([[1, 1, 5.0], [3, 2, -1.0], [3, 2, 0]])
                f.write(struct.pack(order + '5i', m * 1000 + 2, 3, 3, 0, 3) + b'sp\0')
                f.write(trip.astype(order + 'f8').tobytes(order='F'))
        ours, _ = read_ours(path)
        self.assertEqual(len(ours), 16)
        for name, dims, vals in ours:
            if name == 'txt':
                self.assertEqual(list(vals), [72.0, 105.0])
            elif name == 'sp':
                self.assertEqual(dims, (3, 2))
                self.assertEqual(list(vals), [5, 0, 0, 0, 0, -1])
            else:
                self.assertEqual(dims, (2, 3), name)
                self.assertEqual(list(vals), list(values.flatten(order='F')), name)


class OctaveWritten(Case):
    def test_octave_formats(self):
        if not shutil.which('octave'):
            self.skipTest('no octave')
        for fmt in ('-v7', '-v6', '-v4'):
            path = os.path.join(self.dir, 'oct%s.mat' % fmt)
            script = ("a=[1 2;3 4.5]; b=int16([-5 7 300]); c='text'; d=single(pi); e=true(2,2);"
                      "f=sparse([1 3],[2 2],[4 5],3,3); g=1:1000; z=[1+2i 3]; u=uint64(2^60);"
                      "save('%s', '%s', 'a','b','c','d','e','f','g','z','u');" % (fmt, path))
            if fmt == '-v4':
                script = "a=[1 2;3 4.5]; c='text'; g=1:1000; z=[1+2i 3]; save('-v4', '%s', 'a','c','g','z');" % path
            subprocess.run(['octave', '--no-gui', '--norc', '--quiet', '--eval', script], check=True,
                           capture_output=True, timeout=300)
            self.assertReadsLikeScipy(path)


class Hdf5Written(Case):
    """The 7.3 layout as MATLAB lays it out, built with h5py."""

    def test_v73_classes_and_order(self):
        import h5py
        path = os.path.join(self.dir, 'v73.mat')
        with h5py.File(path, 'w', userblock_size=512, track_order=True) as f:
            def put(name, data, cls, **attrs):
                d = f.create_dataset(name, data=data)
                d.attrs.create('MATLAB_class', np.bytes_(cls))
                for k, v in attrs.items():
                    d.attrs[k] = v
                return d
            put('zeta', np.arange(6.0).reshape(3, 2), 'double')  # MATLAB 2 x 3
            put('alpha', np.array([[1], [-2], [3]], dtype=np.int8), 'int8')
            put('s', np.array([[ord(c)] for c in 'hi'], dtype=np.uint16), 'char')
            put('lg', np.array([[1], [0]], dtype=np.uint8), 'logical', MATLAB_int_decode=1)
            put('e', np.array([0, 5], dtype=np.uint64), 'double', MATLAB_empty=np.uint8(1))
            cplx = np.zeros((2, 1), dtype=[('real', '<f8'), ('imag', '<f8')])
            cplx['real'] = [[1.5], [2.5]]
            cplx['imag'] = [[9], [9]]
            put('z', cplx, 'double')
            g = f.create_group('sp')
            g.attrs.create('MATLAB_class', np.bytes_('double'))
            g.attrs['MATLAB_sparse'] = np.uint64(3)
            g['jc'] = np.array([0, 1, 1, 2], dtype=np.uint64)
            g['ir'] = np.array([2, 0], dtype=np.uint64)
            g['data'] = np.array([7.0, 8.0])
            refs = f.create_group('#refs#')
            r = refs.create_dataset('a', data=np.array([[1.0]]))
            c = f.create_dataset('cel', (2, 1), dtype=h5py.ref_dtype)
            c[0, 0] = r.ref
            c[1, 0] = r.ref
            c.attrs.create('MATLAB_class', np.bytes_('cell'))
        with open(path, 'r+b') as fh:
            head = b'MATLAB 7.3 MAT-file, Platform: test, Created on: today HDF5 schema 1.00 .'
            fh.write(head.ljust(116, b' ') + b'\0' * 8 + b'\x00\x02IM')
        ours, p = read_ours(path)
        got = {n: (d, list(v)) for n, d, v in ours}
        self.assertEqual([n for n, _, _ in ours], ['zeta', 'alpha', 's', 'lg', 'e', 'z', 'sp', 'cel'])
        self.assertEqual(got['zeta'], ((2, 3), [0, 1, 2, 3, 4, 5]))
        self.assertEqual(got['alpha'], ((1, 3), [1, -2, 3]))
        self.assertEqual(got['s'], ((1, 2), [104, 105]))
        self.assertEqual(got['lg'], ((1, 2), [1, 0]))
        self.assertEqual(got['e'], ((0, 5), []))
        self.assertEqual(got['z'], ((1, 2), [1.5, 2.5]))
        self.assertEqual(got['sp'], ((3, 3), [0, 0, 7, 0, 0, 0, 8, 0, 0]))
        self.assertEqual(got['cel'][0], (1, 2))
        self.assertTrue(all(math.isnan(x) for x in got['cel'][1]))
        self.assertIn("'cel' holds no numbers (cell)", p.stderr)
        self.assertIn('REMAINING 8', p.stdout)

        # Without creation order the names come sorted.
        plain = os.path.join(self.dir, 'plain.mat')
        with h5py.File(plain, 'w') as f:
            for n in ('b', 'a', 'c'):
                f.create_dataset(n, data=np.array([[1.0]]))
        self.assertEqual([n for n, _, _ in read_ours(plain)[0]], ['a', 'b', 'c'])


class OurFilesElsewhere(Case):
    """What our writers make loads in scipy, Octave and matdump."""

    def test_written_files_load(self):
        rows = [('time', [0.0, 0.001, 0.002]), ('speed', [1e300, -5e-324, -0.0]), ('', [1, 2, 3]),
                ('a_long_name_of_thirty_chars__', [np.pi, 2, 3]), ('dup', [1, 1, 1]), ('dup', [2, 2, 2])]
        text = ''.join('%s\t%s\n' % (n, ' '.join(repr(float(x)) for x in v)) for n, v in rows)
        for mode in ('w', 'w7.3'):
            path = os.path.join(self.dir, 'ours_%s.mat' % mode)
            p = matcat('-w', path, mode, stdin=text)
            self.assertIn('CLOSE 0', p.stdout, p.stdout + p.stderr)
            back, _ = read_ours(path)
            # Both refuse the empty name; 7.3 also the repeated one.
            expect = [r for r in (rows if mode == 'w' else rows[:5]) if r[0]]
            self.assertEqual(p.stdout.count('PUT 0'), 5 if mode == 'w' else 4)
            self.assertEqual([(n, list(v)) for n, _, v in back], [(n, list(map(float, v))) for n, v in expect])
            if mode == 'w':
                d = sio.loadmat(path)
                self.assertEqual(list(d['time'][0]), rows[0][1])
                self.assertEqual(d['speed'].shape, (1, 3))
                self.assertEqual(d['dup'][0, 0], 2.0)  # the later of two equal names wins on load
                dump = subprocess.run(['matdump', '-f', 'whos', path], capture_output=True, text=True, timeout=60)
                self.assertEqual(dump.returncode, 0, dump.stderr)
                self.assertRegex(dump.stdout, r'time +1x3 +24 +mxDOUBLE_CLASS')
                self.assertRegex(dump.stdout, r'a_long_name_of_thirty_chars__ +1x3')
                data = subprocess.run(['matdump', '-d', path, 'speed'], capture_output=True, text=True, timeout=60)
                self.assertIn('1e+300', data.stdout)
            if shutil.which('octave'):
                out = subprocess.run(['octave', '--no-gui', '--norc', '--quiet', '--eval',
                                      "x=load('%s'); printf('%%.17g ', x.time, x.speed); disp(size(x.speed))" % path],
                                     capture_output=True, text=True, timeout=300)
                self.assertIn('0 0.001 0.002 1.0000000000000001e+300 -4.9406564584124654e-324 -0 ', out.stdout,
                              out.stdout + out.stderr)


class ScipyTestData(Case):
    """MATLAB-written files of many versions (scipy's test collection)."""

    def test_every_file(self):
        files = sorted(glob.glob(os.path.join(SCIPY_DATA, '*.mat')))
        self.assertGreater(len(files), 50)
        for path in files:
            base = os.path.basename(path)
            with self.subTest(base):
                if base in DAMAGED:
                    ours, p = read_ours(path)
                    self.assertIn('damaged', p.stderr)
                elif base in WE_READ:
                    ours, p = read_ours(path)
                    self.assertGreater(len(ours), 0)
                    self.assertNotIn('damaged', p.stderr)
                else:
                    self.assertReadsLikeScipy(path)


class DamagedFiles(Case):
    """Every cut of small valid files and flipped bytes give a warning at
    most: no crash, no sanitizer report, no hang."""

    def test_cuts_and_flips(self):
        sources = []
        for compress in (False, True):
            path = os.path.join(self.dir, 'src%d.mat' % compress)
            sio.savemat(path, {'a': np.arange(6.0).reshape(2, 3), 's': sp.csc_matrix(np.eye(3)),
                               'c': np.array(['ab'])}, do_compression=compress)
            sources.append(path)
        v4 = os.path.join(self.dir, 'src4.mat')
        sio.savemat(v4, {'a': np.arange(6.0).reshape(2, 3)}, format='4')
        sources.append(v4)
        rng = np.random.default_rng(3)
        for src in sources:
            data = open(src, 'rb').read()
            cuts = range(1, len(data)) if len(data) < 600 else rng.choice(len(data), 300, replace=False)
            for n, cut in enumerate(cuts):
                bad = os.path.join(self.dir, 'bad.mat')
                if n % 2:
                    flipped = bytearray(data)
                    flipped[int(cut)] ^= 0xFF
                    open(bad, 'wb').write(bytes(flipped))
                else:
                    open(bad, 'wb').write(data[:int(cut)])
                read_ours(bad)  # raises on a sanitizer report or a crash


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--tracepack')
    parser.add_argument('--traceunpack')
    parser.add_argument('--source')
    ARGS, rest = parser.parse_known_args()
    ARGS.matcat = os.path.join(os.path.dirname(os.path.abspath(ARGS.tracepack)), 'matcat')
    if not os.path.exists(ARGS.matcat):
        print('matcat not built next to tracepack', file=sys.stderr)
        return 1
    prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
