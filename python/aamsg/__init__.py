"""Conversions between audio files and auto-attendant message files, through libaamsg's C API.

    import aamsg

    report = aamsg.convert("greeting.mp3", "greeting.msg", mode="q", level=-22, trim=True)
    print(report.level_after_db, report.trimmed_start_seconds)

    message, report = aamsg.convert_bytes(wave_bytes, mode="e")

    inspection = aamsg.inspect("greeting.wav")
    for finding in inspection.findings:
        print(finding.name, finding.text)

Modes: "e" encodes a PCM WAVE file exactly as the format's historical encoder did, "d" decodes a
message into a WAVE file, "q" encodes any audio file with the codes that sound best (options:
`level` -- True for -22 dB or a level in dB of full scale --, `trim`, `flat`). A failure raises
aamsg.Error, whose `status` is an aamsg.Status (its number is the C API's) and `text` the
library's words for it.

inspect() and inspect_bytes() measure a recording as q reads it, or any other file as the message
a phone plays from its bytes, and say what is wrong with it: the findings, each a Finding with its
name, flag, threshold and the library's words. A conversion's report lists the findings about its
input too. FINDINGS holds every finding the library knows.

The library is the one installed beside this module, else the system's (libaamsg.so.0);
AAMSG_LIBRARY in the environment names another.
"""

import ctypes
import dataclasses
import enum
import os
import sys

__all__ = ["Status", "Report", "Error", "Finding", "FINDINGS", "Inspection", "convert", "convert_bytes", "inspect",
           "inspect_bytes", "status_text", "version", "reads_mp3"]


class Status(enum.IntEnum):
    """What a conversion came to: aamsg_status of aamsg.h."""

    OK = 0
    CANNOT_OPEN_INPUT = 1
    CANNOT_OPEN_OUTPUT = 2
    OUTPUT_IS_INPUT = 3
    WRITE_FAILED = 4
    READ_FAILED = 5
    NOT_AUDIO = 6
    NOT_PCM_WAVE = 7
    CORRUPTED = 8
    TOO_LONG = 9
    OUT_OF_MEMORY = 10
    INTERNAL = 11
    CANCELLED = 12
    INVALID_ARGUMENT = 13
    NO_AUDIO_STREAM = 14


@dataclasses.dataclass(frozen=True)
class Finding:
    """One thing wrong with a prompt's sound: its `name` ("too_quiet"), its AAMSG_FINDING_* `flag`,
    the `threshold` it is judged by in its own unit (dB, seconds, samples, a share of full scale;
    NaN for no_speech) and the library's `text`: what is wrong and what to do about it."""

    name: str
    flag: int
    threshold: float
    text: str


@dataclasses.dataclass(frozen=True)
class Report:
    """What a conversion did: aamsg_report of aamsg.h, field for field (q's fields are 0 for e and d),
    with `findings` as a tuple of Finding (their words without the input's numbers)."""

    finished: bool
    seconds: int
    samples: int
    clipped: int
    not_numbers: int
    level_measured: bool
    speech_found: bool
    level_before_db: float
    level_after_db: float
    gain_db: float
    trimmed_start_seconds: float
    trimmed_end_seconds: float
    greedy_codes: bool
    findings: tuple


@dataclasses.dataclass(frozen=True)
class Inspection:
    """What a file's sound says: aamsg_inspection of aamsg.h, field for field, with `findings` as a
    tuple of Finding whose words carry the file's numbers. Levels in dB of full scale; -200 is
    digital silence."""

    is_message: bool
    format: str
    rate: int
    channels: int
    seconds: float
    speech_found: bool
    level_db: float
    activity: float
    peak_db: float
    clipped_samples: int
    clipped_places: int
    silence_start_seconds: float
    silence_end_seconds: float
    noise_floor_db: float
    speech_to_noise_db: float
    dc_offset: float
    gain_db: float
    findings: tuple


class Error(Exception):
    """A conversion or inspection that failed: `status` (a Status), `text` (the library's words),
    `report` (an inspection's Inspection, measured as far as the file went when it is CORRUPTED),
    and for convert_bytes `output`, the bytes written before the failure."""

    def __init__(self, status, text, report=None, output=b""):
        super().__init__(f"{text} (status {int(status)})")
        self.status = status
        self.text = text
        self.report = report
        self.output = output


class _Report(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("finished", ctypes.c_int),
        ("seconds", ctypes.c_uint32),
        ("samples", ctypes.c_uint64),
        ("clipped", ctypes.c_uint64),
        ("not_numbers", ctypes.c_uint64),
        ("level_measured", ctypes.c_int),
        ("speech_found", ctypes.c_int),
        ("level_before_db", ctypes.c_double),
        ("level_after_db", ctypes.c_double),
        ("gain_db", ctypes.c_double),
        ("trimmed_start_seconds", ctypes.c_double),
        ("trimmed_end_seconds", ctypes.c_double),
        ("greedy_codes", ctypes.c_int),
        ("findings", ctypes.c_uint32),
    ]


class _Inspection(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("is_message", ctypes.c_int),
        ("format", ctypes.c_char * 64),
        ("rate", ctypes.c_uint32),
        ("channels", ctypes.c_uint32),
        ("seconds", ctypes.c_double),
        ("speech_found", ctypes.c_int),
        ("level_db", ctypes.c_double),
        ("activity", ctypes.c_double),
        ("peak_db", ctypes.c_double),
        ("clipped_samples", ctypes.c_uint64),
        ("clipped_places", ctypes.c_uint64),
        ("silence_start_seconds", ctypes.c_double),
        ("silence_end_seconds", ctypes.c_double),
        ("noise_floor_db", ctypes.c_double),
        ("speech_to_noise_db", ctypes.c_double),
        ("dc_offset", ctypes.c_double),
        ("gain_db", ctypes.c_double),
        ("findings", ctypes.c_uint32),
    ]


_DEFAULT_LEVEL_DB = -22.0
_READS_MP3 = 1
_Progress = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int)


def _library_names():
    if sys.platform == "win32":
        soname = "aamsg.dll"
    elif sys.platform == "darwin":
        soname = "libaamsg.0.dylib"
    else:
        soname = "libaamsg.so.0"
    if os.environ.get("AAMSG_LIBRARY"):
        yield os.environ["AAMSG_LIBRARY"]
    try:
        from ._install import LIBRARY_DIR
    except ImportError:  # a copy of the module that was not installed
        LIBRARY_DIR = ""
    if LIBRARY_DIR:
        yield os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_DIR, soname)
    yield soname


def _load():
    failures = []
    for name in _library_names():
        try:
            lib = ctypes.CDLL(name)
            break
        except OSError as error:
            failures.append(str(error))
    else:
        raise ImportError("libaamsg cannot be loaded: " + "; ".join(failures))
    c_int, c_uint, c_double, c_char_p, c_void_p, c_size_t = (
        ctypes.c_int, ctypes.c_uint, ctypes.c_double, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t)
    signatures = {
        "aamsg_version": (c_char_p, []),
        "aamsg_status_text": (c_char_p, [c_int]),
        "aamsg_options_new": (c_void_p, []),
        "aamsg_options_free": (None, [c_void_p]),
        "aamsg_options_set_mode": (c_int, [c_void_p, c_int]),
        "aamsg_options_set_level": (c_int, [c_void_p, c_int, c_double]),
        "aamsg_options_set_trim": (c_int, [c_void_p, c_int]),
        "aamsg_options_set_flat": (c_int, [c_void_p, c_int]),
        "aamsg_options_set_threads": (c_int, [c_void_p, c_uint]),
        "aamsg_convert_file": (c_int, [c_char_p, c_char_p, c_void_p, _Progress, c_void_p, ctypes.POINTER(_Report)]),
        "aamsg_convert_memory": (c_int, [c_void_p, c_size_t, ctypes.POINTER(c_void_p), ctypes.POINTER(c_size_t),
                                         c_void_p, _Progress, c_void_p, ctypes.POINTER(_Report)]),
        "aamsg_free": (None, [c_void_p]),
        "aamsg_features": (c_uint, []),
        "aamsg_inspect_file": (c_int, [c_char_p, ctypes.POINTER(_Inspection), _Progress, c_void_p]),
        "aamsg_inspect_memory": (c_int, [c_void_p, c_size_t, ctypes.POINTER(_Inspection), _Progress, c_void_p]),
        "aamsg_finding_name": (c_char_p, [ctypes.c_uint32]),
        "aamsg_finding_threshold": (c_double, [ctypes.c_uint32]),
        "aamsg_finding_text": (c_size_t, [ctypes.c_uint32, ctypes.POINTER(_Inspection), ctypes.c_char_p, c_size_t]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


_lib = _load()


def _finding(flag, inspection=None):
    """The library's Finding for one flag: with the numbers of an _Inspection, or without (None)."""
    where = ctypes.byref(inspection) if inspection is not None else None
    size = _lib.aamsg_finding_text(flag, where, None, 0)
    text = ctypes.create_string_buffer(size + 1)
    _lib.aamsg_finding_text(flag, where, text, size + 1)
    return Finding(_lib.aamsg_finding_name(flag).decode("ascii"), flag, _lib.aamsg_finding_threshold(flag),
                   text.value.decode("utf-8", "replace"))


# Every finding the library knows, by name: asked of the library, one bit after the other.
FINDINGS = {finding.name: finding for finding in
            (_finding(1 << bit) for bit in range(32) if _lib.aamsg_finding_name(1 << bit))}


def _findings(flags, inspection=None):
    return tuple(_finding(1 << bit, inspection) for bit in range(32) if flags & (1 << bit) and _lib.aamsg_finding_name(1 << bit))


def version():
    """The loaded library's version, "MAJOR.MINOR.PATCH"."""
    return _lib.aamsg_version().decode("ascii")


def reads_mp3():
    """Whether this build of the library reads MP3 files (for q)."""
    return bool(_lib.aamsg_features() & _READS_MP3)


def status_text(status):
    """The library's words for a status ("the input is corrupted")."""
    return _lib.aamsg_status_text(int(status)).decode("utf-8", "replace")


def _status(code):
    try:
        return Status(code)
    except ValueError:  # a newer library's status: still an int, with the library's words
        return code


def _check(code):
    if code != Status.OK:
        raise Error(_status(code), status_text(code))


def _file_name(path):
    # Names go to the library as UTF-8 on Windows and as the file system's bytes elsewhere.
    if sys.platform == "win32":
        return os.fspath(path).encode("utf-8") if not isinstance(path, bytes) else path
    return os.fsencode(path)


class _Call:
    """The options and the progress callback of one conversion, freed when it ends."""

    def __init__(self, mode, level, trim, flat, threads, progress):
        if not isinstance(mode, str) or mode.lower() not in ("e", "d", "q"):
            raise ValueError(f"mode should be 'e', 'd' or 'q', not {mode!r}")
        self.options = _lib.aamsg_options_new()
        if not self.options:
            raise MemoryError("aamsg_options_new")
        try:
            _check(_lib.aamsg_options_set_mode(self.options, ord(mode.lower())))
            if level is not None and level is not False:
                _check(_lib.aamsg_options_set_level(self.options, 1, _DEFAULT_LEVEL_DB if level is True else float(level)))
            if trim:
                _check(_lib.aamsg_options_set_trim(self.options, 1))
            if flat:
                _check(_lib.aamsg_options_set_flat(self.options, 1))
            if threads:
                if threads < 0:
                    raise ValueError("threads should be 0 or more")
                _check(_lib.aamsg_options_set_threads(self.options, int(threads)))
        except BaseException:
            self.close()
            raise
        self.raised = None
        self.user_progress = progress
        # A null function pointer when there is no callback; otherwise a wrapper that keeps the
        # caller's exception (ctypes would print and drop it) and stops the conversion with it.
        self.progress = _Progress(self._on_progress) if progress else _Progress()
        self.report = _Report(size=ctypes.sizeof(_Report))

    def _on_progress(self, _context, percent):
        try:
            return 1 if self.user_progress(percent) else 0
        except BaseException as error:  # raised again once the library has returned
            self.raised = error
            return 1

    def result(self, code, output=b""):
        report = Report(**{field.name: field.type(getattr(self.report, field.name))
                           for field in dataclasses.fields(Report) if field.name != "findings"},
                        findings=_findings(self.report.findings))
        if self.raised is not None:
            raise self.raised
        if code != Status.OK:
            raise Error(_status(code), status_text(code), report, output)
        return report

    def close(self):
        if self.options:
            _lib.aamsg_options_free(self.options)
            self.options = None


def convert(input, output, mode="q", level=None, trim=False, flat=False, threads=0, progress=None):
    """Converts the file `input` into the file `output` and returns the Report; raises Error.

    `level`: q brings the active speech to this level in dB of full scale (-60 to -3), True for
    -22; `trim`: q removes the silence around the speech; `flat`: q does not shape the noise (for
    music); `threads`: the search's threads, 0 for one a processor. `progress(percent)` is called
    with 0, then each whole percent to 100; a true return stops the conversion (Status.CANCELLED).
    """
    call = _Call(mode, level, trim, flat, threads, progress)
    try:
        code = _lib.aamsg_convert_file(_file_name(input), _file_name(output), call.options, call.progress, None,
                                       ctypes.byref(call.report))
        return call.result(code)
    finally:
        call.close()


def convert_bytes(data, mode="q", level=None, trim=False, flat=False, threads=0, progress=None):
    """Converts the bytes of a file (a bytes-like object) and returns (output bytes, Report).

    The options are convert()'s. On a failure, the Error's `output` holds what was written.
    """
    data = bytes(data)
    call = _Call(mode, level, trim, flat, threads, progress)
    buffer = ctypes.c_void_p()
    size = ctypes.c_size_t()
    try:
        code = _lib.aamsg_convert_memory(data, len(data), ctypes.byref(buffer), ctypes.byref(size), call.options,
                                         call.progress, None, ctypes.byref(call.report))
        output = ctypes.string_at(buffer.value, size.value) if buffer.value and size.value else b""
        return output, call.result(code, output)
    finally:
        if buffer.value:
            _lib.aamsg_free(buffer)
        call.close()


def _inspection(result):
    values = {field.name: field.type(getattr(result, field.name))
              for field in dataclasses.fields(Inspection) if field.name not in ("format", "findings")}
    return Inspection(format=result.format.decode("utf-8", "replace"), findings=_findings(result.findings, result),
                      **values)


def _inspect(call, progress):
    """Runs call(result, progress callback) and returns the Inspection; raises Error as convert does."""
    raised = []

    def on_progress(_context, percent):
        try:
            return 1 if progress(percent) else 0
        except BaseException as error:  # raised again once the library has returned
            raised.append(error)
            return 1

    callback = _Progress(on_progress) if progress else _Progress()
    result = _Inspection(size=ctypes.sizeof(_Inspection))
    code = call(ctypes.byref(result), callback)
    if raised:
        raise raised[0]
    inspection = _inspection(result)
    if code != Status.OK:
        raise Error(_status(code), status_text(code), inspection if code == Status.CORRUPTED else None)
    return inspection


def inspect(input, progress=None):
    """Measures the file `input` and returns its Inspection; raises Error (a file cut short:
    Status.CORRUPTED, with what was measured in its `report`). A file that is no audio is read as
    a message. `progress` as for convert()."""
    return _inspect(lambda result, callback: _lib.aamsg_inspect_file(_file_name(input), result, callback, None), progress)


def inspect_bytes(data, progress=None):
    """Measures the bytes of a file (a bytes-like object), as inspect() does a file."""
    data = bytes(data)
    return _inspect(lambda result, callback: _lib.aamsg_inspect_memory(data, len(data), result, callback, None), progress)
