"""Python binding of the Cadenzor library: ctypes over its 29 exported
functions, no build step.

Every conversion is a function taking paths (str, bytes or os.PathLike) and
numbers; it returns None on success and raises CadenzorError when the library
reports failure, carrying what the library said through its message sink
(standard error) during the call. CheckSupportWavFile returns a bool and
GetXMFResourceType an int; neither raises for a file it cannot read.

The library is looked for in $CADENZOR_LIBRARY (a file), then beside this
package's build tree (../build/lib), then by the system's loader.
"""
import ctypes
import os
import sys
import tempfile
import threading

__all__ = ["CadenzorError", "load", "FUNCTIONS"]


class CadenzorError(RuntimeError):
    """A conversion failed; .function names the export, .messages is what the
    library said during the call (possibly empty)."""

    def __init__(self, function, messages):
        self.function = function
        self.messages = messages
        text = function + " failed"
        if messages:
            text += ": " + messages
        super().__init__(text)


P, U, PTR = "path", "u32", "uptr"
# name -> argument kinds, in the order of include/cadenzor/cadenzor.h.
FUNCTIONS = {
    "ConvertWAVToAPM": (P, P, P),
    "ConvertWAVToMDM": (P, P, P),
    "ConvertWAVToAPMWithResample": (P, P, P, U),
    "ConvertWAVToMDMWithResample": (P, P, P, U),
    "ConvertWAVToESB": (P, P, P, U, U, U, U),
    "ConvertWAVToMCP": (P, P, P, U, U),
    "ConvertWAVToWLP": (P, P, P, U, U),
    "ConvertWAVToXMF": (P, P),
    "ConvertWAVToXMFWithResample": (P, P, U),
    "WAVResample": (P, P, U),
    "CheckSupportWavFile": (P,),
    "ConvertMDMToWAV": (P, P),
    "ConvertMP3ToWAV": (P, P),
    "ConvertMP3ToWAVWithResample": (P, P, U),
    "ConvertMP3ToAPMWithResample": (P, P, P, U),
    "ConvertMP3ToMDMWithResample": (P, P, P, U),
    "ConvertWMAToWAV": (P, P),
    "ConvertWMAToWAVWithResample": (P, P, U),
    "ConvertWMAToAPMWithResample": (P, P, P, U),
    "ConvertWMAToMDMWithResample": (P, P, P, U),
    "ConvertMIDToIMF": (P, P),
    "ConvertMIDToIMFByChipItem": (PTR, PTR, PTR),
    "ConvertMIDToXMF": (P, P),
    "ConvertXMFToMID": (P, P),
    "ConvertXMFToMIDAndDLS": (P, P, P),
    "ConvertXMFToMIDAndDLSForPlay": (P, P, P, P, P),
    "ConvertXMFToWAV": (P, P),
    "GetXMFResourceType": (P,),
    "RbfCutToFitSize": (P, P, U),
}

_lock = threading.Lock()
_library = None


def _candidates():
    env = os.environ.get("CADENZOR_LIBRARY")
    if env:
        yield env
    here = os.path.dirname(os.path.abspath(__file__))
    name = "Cadenzor.dll" if sys.platform == "win32" else "libcadenzor.so"
    yield os.path.join(here, "..", "..", "build", "lib", name)
    yield name


def load(path=None):
    """Loads the library (once); path overrides where it is looked for."""
    global _library
    if _library is not None and path is None:
        return _library
    errors = []
    for candidate in ([path] if path else _candidates()):
        try:
            loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
            lib = loader(candidate)
            break
        except OSError as e:
            errors.append("%s: %s" % (candidate, e))
    else:
        raise OSError("cannot load the Cadenzor library: " + "; ".join(errors))
    types = {P: ctypes.c_char_p, U: ctypes.c_uint32, PTR: ctypes.c_size_t}
    for name, kinds in FUNCTIONS.items():
        fn = getattr(lib, name)
        fn.argtypes = [types[k] for k in kinds]
        fn.restype = ctypes.c_int32
    _library = lib
    return lib


def _argument(kind, value, function):
    if kind == P:
        if value is None:
            return None
        return os.fsencode(os.fspath(value))
    if not isinstance(value, int) or value < 0:
        raise ValueError("%s: %r is not a non-negative integer" % (function, value))
    if kind == U and value > 0xFFFFFFFF:
        raise ValueError("%s: %r does not fit 32 bits" % (function, value))
    return value


def _call(name, args):
    kinds = FUNCTIONS[name]
    if len(args) != len(kinds):
        raise TypeError("%s takes %d arguments (%d given)" % (name, len(kinds), len(args)))
    values = [_argument(k, v, name) for k, v in zip(kinds, args)]
    fn = getattr(load(), name)
    # What the library says goes to standard error: it is caught for the
    # duration of the call (one call at a time) and handed to the caller.
    with _lock, tempfile.TemporaryFile() as caught:
        sys.stderr.flush()
        saved = os.dup(2)
        try:
            os.dup2(caught.fileno(), 2)
            result = fn(*values)
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        caught.seek(0)
        messages = caught.read().decode("utf-8", "replace").strip()
    return result, messages


def _make(name):
    def function(*args):
        result, messages = _call(name, args)
        if name == "CheckSupportWavFile":
            return bool(result)
        if name == "GetXMFResourceType":
            return int(result)
        if result == 0:
            raise CadenzorError(name, messages)
        return None

    function.__name__ = name
    function.__doc__ = "%s(%s): the library's %s; raises CadenzorError on failure." % (
        name, ", ".join(FUNCTIONS[name]), name)
    return function


for _name in FUNCTIONS:
    globals()[_name] = _make(_name)
    __all__.append(_name)
