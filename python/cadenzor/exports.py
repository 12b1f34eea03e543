"""The library's 29 exported functions through ctypes, as they are.

Every conversion takes paths (str, bytes or os.PathLike) and whole numbers,
returns None on success and raises ExportError when the library reports
failure. The error carries what the library said through its message sink
during the call and, when it said nothing, the reason its input cannot be
read. CheckSupportWavFile returns a bool and GetXMFResourceType an int;
neither raises for a file it cannot read.

The library is looked for in $CADENZOR_LIBRARY (a file), this package's
folder, the source tree's build folder (../build/lib), then by the system's
loader.
"""
import ctypes
import inspect
import os
import sys
import tempfile
import threading
from typing import Dict, Optional, Tuple, Union

from ._errors import CadenzorError
from ._loader import load_library

PathArg = Optional[Union[str, bytes, os.PathLike]]

__all__ = ["ExportError", "load", "FUNCTIONS", "PARAMETERS"]

P, U, PTR = "path", "u32", "uptr"

# name -> (parameter, kind), in the order of include/cadenzor/cadenzor.h.
PARAMETERS: Dict[str, Tuple[Tuple[str, str], ...]] = {
    "ConvertWAVToAPM": (("source", P), ("apm_path", P), ("binary_path", P)),
    "ConvertWAVToMDM": (("source", P), ("mdm_path", P), ("binary_path", P)),
    "ConvertWAVToAPMWithResample": (("source", P), ("apm_path", P), ("binary_path", P), ("target_rate", U)),
    "ConvertWAVToMDMWithResample": (("source", P), ("mdm_path", P), ("binary_path", P), ("target_rate", U)),
    "ConvertWAVToESB": (("source", P), ("esb_path", P), ("binary_path", P), ("target_rate", U),
                        ("coder_value", U), ("bit_rate", U), ("coder_flag", U)),
    "ConvertWAVToMCP": (("source", P), ("mcp_path", P), ("binary_path", P), ("target_rate", U),
                        ("coder_setting", U)),
    "ConvertWAVToWLP": (("source", P), ("wlp_path", P), ("binary_path", P), ("target_rate", U),
                        ("coder_setting", U)),
    "ConvertWAVToXMF": (("source", P), ("xmf_path", P)),
    "ConvertWAVToXMFWithResample": (("source", P), ("xmf_path", P), ("target_rate", U)),
    "WAVResample": (("source", P), ("wav_path", P), ("target_rate", U)),
    "CheckSupportWavFile": (("path", P),),
    "ConvertMDMToWAV": (("source", P), ("wav_path", P)),
    "ConvertMP3ToWAV": (("mp3_path", P), ("wav_path", P)),
    "ConvertMP3ToWAVWithResample": (("mp3_path", P), ("wav_path", P), ("target_rate", U)),
    "ConvertMP3ToAPMWithResample": (("mp3_path", P), ("apm_path", P), ("binary_path", P), ("target_rate", U)),
    "ConvertMP3ToMDMWithResample": (("mp3_path", P), ("mdm_path", P), ("binary_path", P), ("target_rate", U)),
    "ConvertWMAToWAV": (("wma_path", P), ("wav_path", P)),
    "ConvertWMAToWAVWithResample": (("wma_path", P), ("wav_path", P), ("target_rate", U)),
    "ConvertWMAToAPMWithResample": (("wma_path", P), ("apm_path", P), ("binary_path", P), ("target_rate", U)),
    "ConvertWMAToMDMWithResample": (("wma_path", P), ("mdm_path", P), ("binary_path", P), ("target_rate", U)),
    "ConvertMIDToIMF": (("midi_path", P), ("imf_path", P)),
    "ConvertMIDToIMFByChipItem": (("first", PTR), ("second", PTR), ("third", PTR)),
    "ConvertMIDToXMF": (("midi_path", P), ("xmf_path", P)),
    "ConvertXMFToMID": (("xmf_path", P), ("midi_path", P)),
    "ConvertXMFToMIDAndDLS": (("xmf_path", P), ("midi_path", P), ("dls_path", P)),
    "ConvertXMFToMIDAndDLSForPlay": (("xmf_path", P), ("midi_path", P), ("dls_path", P),
                                     ("midi_for_play_path", P), ("dls_for_play_path", P)),
    "ConvertXMFToWAV": (("xmf_path", P), ("wav_path", P)),
    "GetXMFResourceType": (("xmf_path", P),),
    "RbfCutToFitSize": (("rbf_path", P), ("out_path", P), ("size_limit", U)),
}

# name -> argument kinds.
FUNCTIONS: Dict[str, Tuple[str, ...]] = {n: tuple(k for _, k in ps) for n, ps in PARAMETERS.items()}


class ExportError(CadenzorError):
    """An exported function reported failure. .function names it, .messages
    is what the library said during the call, .reason the text shown (the
    library's words, or the reason its input cannot be read); .code is 3
    (the input cannot be read) when that is the reason, else 8 (the
    conversion failed)."""

    def __init__(self, function: str, messages: str, reason: str = "") -> None:
        self.function = function
        self.messages = messages
        shown = messages or reason
        text = function + " failed"
        if shown:
            text += ": " + shown
        super().__init__(text, 3 if reason and not messages else 8, "", shown)


_lock = threading.Lock()
_library = None


def load(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library once (path overrides where it is looked for) and
    gives every export its argument and result types."""
    global _library
    if _library is not None and path is None:
        return _library
    lib = load_library("cadenzor", "CADENZOR_LIBRARY", path)
    types = {P: ctypes.c_char_p, U: ctypes.c_uint32, PTR: ctypes.c_size_t}
    for name, kinds in FUNCTIONS.items():
        fn = getattr(lib, name)
        fn.argtypes = [types[k] for k in kinds]
        fn.restype = ctypes.c_int32
    _library = lib
    return lib


def _argument(kind: str, value, function: str):
    if kind == P:
        if value is None:
            return None
        return os.fsencode(os.fspath(value))
    if not isinstance(value, int) or isinstance(value, bool) or value < 0:
        raise ValueError("%s: %r is not a non-negative integer" % (function, value))
    if kind == U and value > 0xFFFFFFFF:
        raise ValueError("%s: %r does not fit 32 bits" % (function, value))
    return value


def _call(name: str, values) -> Tuple[int, str]:
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


def _input_reason(path) -> str:
    """Why the file an export reads cannot be read, in the library's words
    ("x.wav: the file cannot be opened: No such file or directory"); "" when
    it can be opened."""
    if path is None:
        return ""
    shown = os.fsdecode(path)
    try:
        with open(path, "rb"):
            return ""
    except OSError as e:
        return "%s: the file cannot be opened: %s" % (shown, e.strerror or e)


def _make(name: str):
    params = PARAMETERS[name]

    def function(*args, **kwargs):
        bound = signature.bind(*args, **kwargs)
        values = [_argument(kind, bound.arguments[p], name) for p, kind in params]
        result, messages = _call(name, values)
        if name == "CheckSupportWavFile":
            return bool(result)
        if name == "GetXMFResourceType":
            return int(result)
        if result == 0:
            reason = _input_reason(values[0]) if params[0][1] == P else ""
            raise ExportError(name, messages, reason)
        return None

    annotation = {P: PathArg, U: int, PTR: int}
    result_type = bool if name == "CheckSupportWavFile" else int if name == "GetXMFResourceType" else None
    signature = inspect.Signature(
        [inspect.Parameter(p, inspect.Parameter.POSITIONAL_OR_KEYWORD, annotation=annotation[k]) for p, k in params],
        return_annotation=result_type)
    function.__name__ = function.__qualname__ = name
    function.__signature__ = signature
    function.__annotations__ = dict({p: annotation[k] for p, k in params}, **{"return": result_type})
    function.__doc__ = "%s%s: the library's export %s; raises ExportError on failure." % (name, signature, name)
    return function


for _name in PARAMETERS:
    globals()[_name] = _make(_name)
    __all__.append(_name)
