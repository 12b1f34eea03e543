"""ctypes binding of the job interface (include/cadenzor/cadenzor_job.h)."""
import ctypes
from typing import Dict, Optional

from ._loader import load_library

API_VERSION = 1

STATUS_NAMES: Dict[int, str] = {
    0: "CZ_OK",
    1: "CZ_ERR_INVALID_ARGUMENT",
    2: "CZ_ERR_NO_INPUT",
    3: "CZ_ERR_INPUT",
    4: "CZ_ERR_FORMAT",
    5: "CZ_ERR_OPTION",
    6: "CZ_ERR_OUTPUT_EXISTS",
    7: "CZ_ERR_REFUSED",
    8: "CZ_ERR_CONVERSION",
    9: "CZ_ERR_WRITE",
    10: "CZ_ERR_CANCELLED",
    11: "CZ_ERR_NO_MEMORY",
    12: "CZ_ERR_NOT_RUN",
    13: "CZ_ERR_INTERNAL",
}

PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int)

_c = ctypes
_SIGNATURES = {
    "cz_job_api_version": (_c.c_int, []),
    "cz_library_version": (_c.c_char_p, []),
    "cz_status_text": (_c.c_char_p, [_c.c_int]),
    "cz_format_count": (_c.c_size_t, []),
    "cz_format_name": (_c.c_char_p, [_c.c_size_t]),
    "cz_format_extension": (_c.c_char_p, [_c.c_size_t]),
    "cz_format_long_name": (_c.c_char_p, [_c.c_size_t]),
    "cz_format_id": (_c.c_int32, [_c.c_size_t]),
    "cz_format_makes_binary": (_c.c_int, [_c.c_size_t]),
    "cz_format_writes": (_c.c_int, [_c.c_size_t]),
    "cz_job_create": (_c.c_void_p, []),
    "cz_job_destroy": (None, [_c.c_void_p]),
    "cz_job_set_input_path": (_c.c_int, [_c.c_void_p, _c.c_char_p]),
    "cz_job_set_input_buffer": (_c.c_int, [_c.c_void_p, _c.c_char_p, _c.c_size_t, _c.c_char_p]),
    "cz_job_set_output_path": (_c.c_int, [_c.c_void_p, _c.c_char_p]),
    "cz_job_set_output_buffer": (_c.c_int, [_c.c_void_p]),
    "cz_job_set_format": (_c.c_int, [_c.c_void_p, _c.c_char_p]),
    "cz_job_set_rate": (_c.c_int, [_c.c_void_p, _c.c_uint32]),
    "cz_job_set_profile": (_c.c_int, [_c.c_void_p, _c.c_int]),
    "cz_job_set_codec": (_c.c_int, [_c.c_void_p, _c.c_int32, _c.c_int32, _c.c_int32]),
    "cz_job_set_binary_path": (_c.c_int, [_c.c_void_p, _c.c_char_p]),
    "cz_job_set_binary_buffer": (_c.c_int, [_c.c_void_p, _c.c_int]),
    "cz_job_set_header_style": (_c.c_int, [_c.c_void_p, _c.c_int]),
    "cz_job_set_overwrite": (_c.c_int, [_c.c_void_p, _c.c_int]),
    "cz_job_set_measure_quality": (_c.c_int, [_c.c_void_p, _c.c_int]),
    "cz_job_set_progress": (_c.c_int, [_c.c_void_p, PROGRESS, _c.c_void_p]),
    "cz_job_run": (_c.c_int, [_c.c_void_p]),
    "cz_job_status": (_c.c_int, [_c.c_void_p]),
    "cz_job_error_text": (_c.c_char_p, [_c.c_void_p]),
    "cz_job_error_file": (_c.c_char_p, [_c.c_void_p]),
    "cz_job_error_reason": (_c.c_char_p, [_c.c_void_p]),
    "cz_job_warning_count": (_c.c_size_t, [_c.c_void_p]),
    "cz_job_warning": (_c.c_char_p, [_c.c_void_p, _c.c_size_t]),
    "cz_job_input_bytes": (_c.c_int64, [_c.c_void_p]),
    "cz_job_output_bytes": (_c.c_int64, [_c.c_void_p]),
    "cz_job_binary_bytes": (_c.c_int64, [_c.c_void_p]),
    "cz_job_duration": (_c.c_double, [_c.c_void_p]),
    "cz_job_output_rate": (_c.c_uint32, [_c.c_void_p]),
    "cz_job_output_channels": (_c.c_uint32, [_c.c_void_p]),
    "cz_job_snr": (_c.c_int, [_c.c_void_p, _c.POINTER(_c.c_double), _c.POINTER(_c.c_double)]),
    "cz_job_take_output": (_c.c_int, [_c.c_void_p, _c.POINTER(_c.c_void_p), _c.POINTER(_c.c_size_t)]),
    "cz_job_take_binary": (_c.c_int, [_c.c_void_p, _c.POINTER(_c.c_void_p), _c.POINTER(_c.c_size_t)]),
    "cz_free": (None, [_c.c_void_p]),
}

_library: Optional[ctypes.CDLL] = None


def library(path: Optional[str] = None) -> ctypes.CDLL:
    """The job library (loaded once; path overrides where it is looked for),
    every function typed."""
    global _library
    if _library is not None and path is None:
        return _library
    lib = load_library("cadenzor_job", "CADENZOR_JOB_LIBRARY", path)
    for name, (restype, argtypes) in _SIGNATURES.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    if lib.cz_job_api_version() < API_VERSION:
        raise OSError("the Cadenzor job library is older (version %d) than this package needs (%d)"
                      % (lib.cz_job_api_version(), API_VERSION))
    _library = lib
    return lib
