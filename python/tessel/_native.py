"""The ctypes declarations of libtessel (tessel.h)."""
import ctypes
import ctypes.util
import os

TESSEL_OK = 0
TESSEL_ERR_MEMORY = 2
TESSEL_REPORT_REMOVALS = 1


class Error(ctypes.Structure):
    _fields_ = [
        ("status", ctypes.c_int),
        ("file", ctypes.c_char_p),
        ("line", ctypes.c_ulong),
        ("place", ctypes.c_char_p),
        ("message", ctypes.c_char_p),
    ]


class FindingStruct(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_int),
        ("kind_name", ctypes.c_char_p),
        ("rule", ctypes.c_char_p),
        ("line", ctypes.c_ulong),
        ("column", ctypes.c_ulong),
        ("end_line", ctypes.c_ulong),
        ("end_column", ctypes.c_ulong),
        ("tag", ctypes.c_char_p),
        ("attribute", ctypes.c_char_p),
        ("message", ctypes.c_char_p),
    ]


class Findings(ctypes.Structure):
    _fields_ = [("count", ctypes.c_size_t), ("items", ctypes.POINTER(FindingStruct))]


def _candidates():
    """Where the library may be: $TESSEL_LIBRARY, the path recorded when
    the package was installed, then the system's search."""
    named = os.environ.get("TESSEL_LIBRARY")
    if named:
        yield named
        return
    try:
        from . import _install
        yield _install.LIBRARY
    except ImportError:
        pass
    found = ctypes.util.find_library("tessel")
    if found:
        yield found
    yield "libtessel.so.1"


def _load():
    tried = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate}: {error}")
    raise ImportError("libtessel not found (set TESSEL_LIBRARY to its path): " + "; ".join(tried))


lib = _load()

_policy_p = ctypes.c_void_p
_error_pp = ctypes.POINTER(ctypes.POINTER(Error))

lib.tessel_policy_from_file.argtypes = [ctypes.c_char_p, ctypes.POINTER(_policy_p), _error_pp]
lib.tessel_policy_from_file.restype = ctypes.c_int
lib.tessel_policy_from_string.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(_policy_p), _error_pp]
lib.tessel_policy_from_string.restype = ctypes.c_int
lib.tessel_policy_free.argtypes = [_policy_p]
lib.tessel_policy_free.restype = None
lib.tessel_error_free.argtypes = [ctypes.POINTER(Error)]
lib.tessel_error_free.restype = None
lib.tessel_filter.argtypes = [_policy_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint,
                              ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t),
                              ctypes.POINTER(ctypes.POINTER(Findings))]
lib.tessel_filter.restype = ctypes.c_int
lib.tessel_findings_free.argtypes = [ctypes.POINTER(Findings)]
lib.tessel_findings_free.restype = None
lib.tessel_free.argtypes = [ctypes.c_void_p]
lib.tessel_free.restype = None
lib.tessel_status_text.argtypes = [ctypes.c_int]
lib.tessel_status_text.restype = ctypes.c_char_p
