"""Finding the Cadenzor libraries and the tool.

Looked for in order: the file an environment variable names
($CADENZOR_JOB_LIBRARY, $CADENZOR_LIBRARY, $CADENZOR_TOOL; for the job
library also beside $CADENZOR_LIBRARY), this package's folder, the build tree
of the source tree the package sits in (../build), and then the system's
loader (the installed package) or PATH for the tool.
"""
import ctypes
import os
import shutil
import sys
from typing import Iterator, List, Optional

_HERE = os.path.dirname(os.path.abspath(__file__))
_BUILD = os.path.join(_HERE, "..", "..", "build")


def _names(stem: str) -> List[str]:
    if sys.platform == "win32":
        return [("Cadenzor.dll" if stem == "cadenzor" else stem + ".dll")]
    if sys.platform == "darwin":
        return ["lib%s.dylib" % stem]
    return ["lib%s.so" % stem, "lib%s.so.1" % stem]


def _candidates(stem: str, env: str) -> Iterator[str]:
    named = os.environ.get(env)
    if named:
        yield named
    if stem != "cadenzor" and os.environ.get("CADENZOR_LIBRARY"):
        for name in _names(stem):
            yield os.path.join(os.path.dirname(os.environ["CADENZOR_LIBRARY"]), name)
    for folder in (_HERE, os.path.join(_BUILD, "lib")):
        for name in _names(stem):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                yield path
    for name in _names(stem):
        yield name


def load_library(stem: str, env: str, path: Optional[str] = None) -> ctypes.CDLL:
    """Loads lib<stem> from path, or from the first place that has it."""
    errors = []
    for candidate in [path] if path else _candidates(stem, env):
        try:
            loader = ctypes.WinDLL if sys.platform == "win32" and stem == "cadenzor" else ctypes.CDLL
            return loader(candidate)
        except OSError as e:
            errors.append("%s: %s" % (candidate, e))
    raise OSError("cannot load the Cadenzor library %s: %s" % (stem, "; ".join(errors)))


def find_tool() -> Optional[str]:
    """The cadenzor program: $CADENZOR_TOOL, beside the libraries' folder
    (bin/ next to lib/), the build tree, or PATH."""
    exe = "cadenzor.exe" if sys.platform == "win32" else "cadenzor"
    named = os.environ.get("CADENZOR_TOOL")
    if named:
        return named
    places = []
    for env in ("CADENZOR_JOB_LIBRARY", "CADENZOR_LIBRARY"):
        if os.environ.get(env):
            places.append(os.path.join(os.path.dirname(os.environ[env]), "..", "bin", exe))
    places.append(os.path.join(_BUILD, "bin", exe))
    for place in places:
        if os.path.isfile(place) and os.access(place, os.X_OK):
            return os.path.normpath(place)
    return shutil.which("cadenzor")
