"""Cadenzor from Python: sound files to the resources of speech and melody
chips, and back.

    import cadenzor
    result = cadenzor.convert("in.wav", "out.apm", rate=8000, binary="out.bin")
    print(result.output_bytes, result.duration)
    cadenzor.info("out.apm")["format"]
    [f.name for f in cadenzor.formats() if f.writes]

convert() runs a job of the library's job interface (libcadenzor_job): the
format comes from the output's extension or `format`, progress is reported
to a callback that may cancel, and a failure raises CadenzorError with the
library's result code and its text naming the file and the reason. info()
gives what `cadenzor info --json` gives. The 29 exported functions of the
compatibility library are in cadenzor.exports (and, as before, here).

The libraries are looked for through $CADENZOR_JOB_LIBRARY and
$CADENZOR_LIBRARY, in this package's folder, in the source tree's build
folder, then by the system's loader; the tool through $CADENZOR_TOOL, beside
the libraries, in the build folder, then on PATH.
"""
import ctypes
import json
import os
import subprocess
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Union

from . import exports
from ._errors import CadenzorError, CancelledError
from ._job import STATUS_NAMES, library
from ._loader import find_tool
from .exports import FUNCTIONS, PARAMETERS, ExportError, load

PathLike = Union[str, bytes, os.PathLike]
ProgressCallback = Callable[[int], Optional[bool]]

__all__ = [
    "CadenzorError", "CancelledError", "ExportError", "Format", "Result", "STATUS_NAMES",
    "convert", "formats", "info", "version", "api_version", "exports", "load", "FUNCTIONS", "PARAMETERS",
]


class Format(NamedTuple):
    """One format the library knows (one row per format class)."""
    name: str          # "APM"
    extension: str     # ".apm"
    long_name: str
    id: int            # the format id of its files
    makes_binary: bool  # a chip resource binary can be made from it
    writes: bool       # the library writes it


class Result(NamedTuple):
    """What a conversion made."""
    input_bytes: int
    output_bytes: int
    binary_bytes: int          # -1 without a binary
    duration: float            # seconds of the output's sound
    rate: int                  # the output's sample rate
    channels: int
    snr_db: Optional[float]    # with measure_quality: the chip's rendition against the source
    segmental_snr_db: Optional[float]
    warnings: List[str]        # what the output format leaves out
    data: Optional[bytes]      # the output, when output=None
    binary_data: Optional[bytes]  # the binary, when binary=True


def version() -> str:
    """The library's release."""
    return library().cz_library_version().decode()


def api_version() -> int:
    """The job interface's version of the library loaded."""
    return int(library().cz_job_api_version())


def formats() -> List[Format]:
    """Every format the library knows, in the registry's order."""
    lib = library()
    rows = []
    for i in range(lib.cz_format_count()):
        rows.append(Format(lib.cz_format_name(i).decode(), lib.cz_format_extension(i).decode(),
                           lib.cz_format_long_name(i).decode(), int(lib.cz_format_id(i)),
                           lib.cz_format_makes_binary(i) == 1, lib.cz_format_writes(i) == 1))
    return rows


def _text(value: Optional[bytes]) -> str:
    return value.decode("utf-8", "replace") if value else ""


def _check(lib: ctypes.CDLL, job: int, status: int, what: str = "") -> None:
    if status == 0:
        return
    text = _text(lib.cz_job_error_text(job))
    if not text:
        text = (what + ": " if what else "") + _text(lib.cz_status_text(status))
    cls = CancelledError if status == 10 else CadenzorError
    raise cls(text, status, _text(lib.cz_job_error_file(job)), _text(lib.cz_job_error_reason(job)))


def _take(lib: ctypes.CDLL, fn, job: int) -> Optional[bytes]:
    data = ctypes.c_void_p()
    size = ctypes.c_size_t()
    if fn(job, ctypes.byref(data), ctypes.byref(size)) != 0:
        return None
    try:
        return ctypes.string_at(data, size.value)
    finally:
        lib.cz_free(data)


def convert(input: Union[PathLike, bytes, bytearray, memoryview], output: Optional[PathLike] = None, *,
            rate: Optional[int] = None, format: Optional[str] = None, profile: str = "best",
            mode: Optional[int] = None, bitrate: Optional[int] = None, quality: Optional[int] = None,
            binary: Union[PathLike, bool, None] = None, header: str = "plain", overwrite: bool = False,
            measure_quality: bool = False, progress: Optional[ProgressCallback] = None,
            input_name: str = "input.wav") -> Result:
    """Converts input to output as one job and returns what it made.

    input: a path, or the bytes of a sound file (input_name is then what
        messages call it). output: a path, or None for the bytes in
        Result.data (format must then be given).
    rate: the output's sample rate in Hz (default: the input's).
    format: the output format by name or extension ("APM", ".mdm"); default:
        the output's extension.
    profile: "best" (the best sound) or "compatible" (the exported
        functions' bytes).
    mode, bitrate, quality: codec settings of the output format.
    binary: a path for the chip's resource binary (and its header,
        path + ".h"), or True for its bytes in Result.binary_data.
    header: "plain" or "firmware" for the binary's header.
    overwrite: replace existing outputs (otherwise they are refused).
    measure_quality: also measure the chip's rendition against the source.
    progress: called with the percent done; returning True cancels the job
        (CancelledError, nothing written). An exception raised in it cancels
        the job as well and is raised again.

    Raises CadenzorError (CancelledError when cancelled) with .code and the
    library's text; ValueError/TypeError for arguments of the wrong kind.
    """
    if profile not in ("best", "compatible"):
        raise ValueError("profile is 'best' or 'compatible', not %r" % (profile,))
    if header not in ("plain", "firmware"):
        raise ValueError("header is 'plain' or 'firmware', not %r" % (header,))
    for name, value in (("rate", rate), ("mode", mode), ("bitrate", bitrate), ("quality", quality)):
        if value is not None and (not isinstance(value, int) or isinstance(value, bool)
                                  or value < 0 or value > 0x7FFFFFFF):
            raise ValueError("%s must be a non-negative integer, not %r" % (name, value))
    lib = library()
    job = lib.cz_job_create()
    if not job:
        raise MemoryError("cannot make a job")
    raised: List[BaseException] = []

    def relay(_user, percent):
        if raised:
            return 1
        try:
            return 1 if progress(int(percent)) else 0
        except BaseException as e:  # handed back after the run
            raised.append(e)
            return 1

    callback = PROGRESS_TYPE(relay) if progress is not None else None
    try:
        if isinstance(input, (bytes, bytearray, memoryview)):
            buf = bytes(input)
            _check(lib, job, lib.cz_job_set_input_buffer(job, buf, len(buf), os.fsencode(input_name)), "input")
        else:
            _check(lib, job, lib.cz_job_set_input_path(job, os.fsencode(os.fspath(input))), "input")
        if output is None:
            _check(lib, job, lib.cz_job_set_output_buffer(job), "output")
        else:
            _check(lib, job, lib.cz_job_set_output_path(job, os.fsencode(os.fspath(output))), "output")
        if format is not None:
            status = lib.cz_job_set_format(job, format.encode())
            if status != 0:
                raise CadenzorError("unknown or unwritable output format '%s'" % format, status, "", "")
        if rate:
            lib.cz_job_set_rate(job, rate)
        lib.cz_job_set_profile(job, 1 if profile == "compatible" else 0)
        lib.cz_job_set_codec(job, -1 if mode is None else mode, -1 if bitrate is None else bitrate,
                             -1 if quality is None else quality)
        if binary is True:
            lib.cz_job_set_binary_buffer(job, 1)
        elif binary not in (None, False):
            _check(lib, job, lib.cz_job_set_binary_path(job, os.fsencode(os.fspath(binary))), "binary")
        lib.cz_job_set_header_style(job, 1 if header == "firmware" else 0)
        lib.cz_job_set_overwrite(job, 1 if overwrite else 0)
        lib.cz_job_set_measure_quality(job, 1 if measure_quality else 0)
        if callback is not None:
            lib.cz_job_set_progress(job, callback, None)
        status = lib.cz_job_run(job)
        if raised:
            raise raised[0]
        _check(lib, job, status)
        snr = ctypes.c_double()
        seg = ctypes.c_double()
        measured = lib.cz_job_snr(job, ctypes.byref(snr), ctypes.byref(seg)) == 0
        return Result(
            input_bytes=int(lib.cz_job_input_bytes(job)),
            output_bytes=int(lib.cz_job_output_bytes(job)),
            binary_bytes=int(lib.cz_job_binary_bytes(job)),
            duration=float(lib.cz_job_duration(job)),
            rate=int(lib.cz_job_output_rate(job)),
            channels=int(lib.cz_job_output_channels(job)),
            snr_db=snr.value if measured else None,
            segmental_snr_db=seg.value if measured else None,
            warnings=[_text(lib.cz_job_warning(job, i)) for i in range(lib.cz_job_warning_count(job))],
            data=_take(lib, lib.cz_job_take_output, job) if output is None else None,
            binary_data=_take(lib, lib.cz_job_take_binary, job) if binary is True else None,
        )
    finally:
        lib.cz_job_destroy(job)


def info(path: PathLike) -> Dict[str, Any]:
    """What `cadenzor info --json` says of one file, as a dict with the same
    fields (format, rate, channels, duration, tags, ... by the file's kind).

    Raises CadenzorError (code 3, the input cannot be read) with the tool's
    reason when the file cannot be read, and OSError when the cadenzor tool
    cannot be found.
    """
    tool = find_tool()
    if not tool:
        raise OSError("cannot find the cadenzor tool (set CADENZOR_TOOL or put it on PATH)")
    shown = os.fsdecode(os.fspath(path))
    done = subprocess.run([tool, "info", "--json", "--", shown], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        facts = json.loads(done.stdout.decode("utf-8", "replace"))
    except ValueError:
        facts = None
    if isinstance(facts, list) and len(facts) == 1 and isinstance(facts[0], dict):
        if "error" in facts[0]:
            raise CadenzorError("%s: %s" % (shown, facts[0]["error"]), 3, shown, str(facts[0]["error"]))
        return facts[0]
    said = done.stderr.decode("utf-8", "replace").strip()
    raise CadenzorError(said or "%s: the tool gave no facts" % shown, 3, shown, said)


from ._job import PROGRESS as PROGRESS_TYPE  # noqa: E402

# The exports as before: cadenzor.ConvertWAVToAPM(...) is cadenzor.exports.ConvertWAVToAPM.
for _name in FUNCTIONS:
    globals()[_name] = getattr(exports, _name)
