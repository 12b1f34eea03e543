"""The exception every part of the package raises."""
from typing import Optional


class CadenzorError(RuntimeError):
    """A conversion failed.

    .code is the library's result code (an int from the job interface's
    table, see cadenzor.STATUS), .code_name its name ("CZ_ERR_CANCELLED"),
    .file the file the failure is about and .reason why; str(error) is the
    library's text ("in.wav: the file cannot be opened: ...")."""

    def __init__(self, text: str, code: Optional[int] = None, file: str = "", reason: str = "") -> None:
        from ._job import STATUS_NAMES  # the table lives with the job binding
        super().__init__(text)
        self.text = text
        self.code = code
        self.code_name = STATUS_NAMES.get(code, "") if code is not None else ""
        self.file = file
        self.reason = reason or text


class CancelledError(CadenzorError):
    """The progress callback asked the job to stop; nothing was written."""
