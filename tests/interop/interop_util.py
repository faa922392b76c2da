"""What the interop scripts share: the C library as the reference for
number text, and the failure list each script reports at its end."""
import ctypes
import struct

LIBC = ctypes.CDLL(None)
LIBC.atof.restype = ctypes.c_double
LIBC.atof.argtypes = [ctypes.c_char_p]

failures = []


def fail(what):
    failures.append(what)
    print("FAIL:", what)


def c_g(value):
    """The C library's own "%g" text of a double."""
    buf = ctypes.create_string_buffer(64)
    LIBC.snprintf(buf, 64, b"%g", ctypes.c_double(value))
    return buf.value.decode()


def bits(value):
    return struct.pack("<d", value)
