"""tessel: filter HTML through a tessel policy, in process.

    import tessel
    policy = tessel.Policy.from_file("tessel.cfg")   # or tessel.Policy(text)
    safe = policy.clean('<p onclick="x">Hi</p>')      # '<p>Hi</p>'
    for finding in policy.check(html):
        print(finding.line, finding.kind, finding.message)

clean and check take str or bytes and clean gives back the same type.
Bytes that are not UTF-8 survive a str round trip as Python's
surrogateescape has them. A Policy may be shared by threads: the library
filters one document at a time in a process, under a lock of its own,
and lets go of the GIL while it does.
"""
import ctypes
import os
from dataclasses import dataclass
from typing import List, Optional, Union

from . import _native
from ._native import lib

__all__ = ["Policy", "PolicyError", "Finding", "TesselError"]


class TesselError(Exception):
    """A failure of the library other than a rejected policy."""

    def __init__(self, status: int):
        self.status = status
        super().__init__(lib.tessel_status_text(status).decode())


class PolicyError(TesselError):
    """A policy that could not be loaded: file is its name ("" for text),
    line the line where reading stopped (0 when it could not be read),
    place what was found and expected there, message every message."""

    def __init__(self, status: int, file: str, line: int, place: str, message: str):
        Exception.__init__(self, message.rstrip("\n"))
        self.status, self.file, self.line, self.place, self.message = status, file, line, place, message


@dataclass(frozen=True)
class Finding:
    """One finding, as tessel --json reports it. column, end_line and
    end_column are None where unknown; tag and attribute where the finding
    has none."""

    line: int
    column: Optional[int]
    kind: str  # "warning", "removed", "unsafe-url"
    rule: str
    tag: Optional[str]
    attribute: Optional[str]
    message: str
    end_line: Optional[int] = None
    end_column: Optional[int] = None


def _text(raw: Optional[bytes]) -> Optional[str]:
    return None if raw is None else raw.decode("utf-8", "surrogateescape")


def _finding(item: _native.FindingStruct) -> Finding:
    region = item.rule == b"region-removed"
    return Finding(
        line=item.line,
        column=item.column or None,
        kind=item.kind_name.decode(),
        rule=item.rule.decode(),
        tag=_text(item.tag),
        attribute=_text(item.attribute),
        message=_text(item.message),
        end_line=(item.end_line or None) if region else (item.end_line if item.end_column else None),
        end_column=item.end_column or None,
    )


def _policy_error(status: int, error) -> PolicyError:
    if not error:
        return PolicyError(status, "", 0, "", lib.tessel_status_text(status).decode())
    e = error.contents
    result = PolicyError(status, _text(e.file), e.line, _text(e.place), _text(e.message))
    lib.tessel_error_free(error)
    return result


class Policy:
    """A loaded policy, in the language of tessel.cfg(5)."""

    __slots__ = ("_handle",)

    def __init__(self, text: Union[str, bytes]):
        data = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)
        self._handle = None
        self._load(lib.tessel_policy_from_string, data, len(data))

    @classmethod
    def from_file(cls, path: Union[str, bytes, os.PathLike]) -> "Policy":
        policy = cls.__new__(cls)
        policy._handle = None
        policy._load(lib.tessel_policy_from_file, os.fsencode(path))
        return policy

    def _load(self, function, *args):
        handle = ctypes.c_void_p()
        error = ctypes.POINTER(_native.Error)()
        status = function(*args, ctypes.byref(handle), ctypes.byref(error))
        if status != _native.TESSEL_OK:
            raise _policy_error(status, error)
        self._handle = handle

    def __del__(self):
        handle = getattr(self, "_handle", None)
        if handle:
            lib.tessel_policy_free(handle)
            self._handle = None

    def _filter(self, html, flags, findings):
        data = html.encode("utf-8", "surrogateescape") if isinstance(html, str) else html
        out = ctypes.c_void_p()
        length = ctypes.c_size_t()
        status = lib.tessel_filter(self._handle, data, len(data), flags, ctypes.byref(out), ctypes.byref(length),
                                   findings)
        if status != _native.TESSEL_OK:
            if status == _native.TESSEL_ERR_MEMORY:
                raise MemoryError()
            raise TesselError(status)
        result = ctypes.string_at(out, length.value)
        lib.tessel_free(out)
        return result

    def clean(self, html: Union[str, bytes], report_removals: bool = False) -> Union[str, bytes]:
        """The document filtered through the policy, as str for str and as
        bytes for bytes (bytearray and memoryview give bytes)."""
        if not isinstance(html, (str, bytes)):
            html = memoryview(html).tobytes()
        flags = _native.TESSEL_REPORT_REMOVALS if report_removals else 0
        result = self._filter(html, flags, None)
        return result.decode("utf-8", "surrogateescape") if isinstance(html, str) else result

    def check(self, html: Union[str, bytes], report_removals: bool = False) -> List[Finding]:
        """The findings of the document: warnings and unsafe URLs, and with
        report_removals everything removed, in the order of the document."""
        if not isinstance(html, (str, bytes)):
            html = memoryview(html).tobytes()
        found = ctypes.POINTER(_native.Findings)()
        flags = _native.TESSEL_REPORT_REMOVALS if report_removals else 0
        self._filter(html, flags, ctypes.byref(found))
        try:
            f = found.contents
            return [_finding(f.items[i]) for i in range(f.count)]
        finally:
            lib.tessel_findings_free(found)
