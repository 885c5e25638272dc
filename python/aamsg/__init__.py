"""Conversions between audio files and auto-attendant message files, through libaamsg's C API.

    import aamsg

    report = aamsg.convert("greeting.mp3", "greeting.msg", mode="q", level=-22, trim=True)
    print(report.level_after_db, report.trimmed_start_seconds)

    message, report = aamsg.convert_bytes(wave_bytes, mode="e")
    message, report = aamsg.encode_samples(samples, rate=16000)     # numpy int16 or float32
    samples, report = aamsg.decode_samples(message)                 # int16, 8000 a second

    inspection = aamsg.inspect("greeting.wav")
    for finding in inspection.findings:
        print(finding.name, finding.text)

Modes: "e" encodes a PCM WAVE file exactly as the format's historical encoder did, "d" decodes a
message into a WAVE file, "q" encodes any audio file with the codes that sound best (options:
`level` -- True for -22 dB or a level in dB of full scale --, `trim`, `flat`). A failure raises
aamsg.Error, whose `status` is an aamsg.Status (its number is the C API's), `text` the library's
words for it and `detail` what exactly was wrong. Ctrl-C stops a conversion and raises
KeyboardInterrupt. Conversions release the GIL while they run.

inspect() and inspect_bytes() measure a recording as q reads it, or any other file as the message
a phone plays from its bytes, and say what is wrong with it: the findings, each a Finding with its
name, flag, threshold and the library's words. A conversion's report lists the findings about its
input too. FINDINGS holds every finding the library knows.

The library is the one installed beside this module, else the system's (libaamsg.so.0);
AAMSG_LIBRARY in the environment names another.
"""

import array
import ctypes
import dataclasses
import enum
import os
import signal
import sys
import threading
import weakref
from typing import TYPE_CHECKING, Any, BinaryIO, Callable, Iterator, Optional, Tuple, Union

if TYPE_CHECKING:  # numpy is used when it is installed, never required
    import numpy

__all__ = [
    "Status", "Report", "Error", "Finding", "FINDINGS", "Inspection", "convert", "convert_bytes", "convert_stream",
    "encode_samples", "decode_samples", "inspect", "inspect_bytes", "status_text", "version", "version_number",
    "processors", "reads_mp3", "__version__",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Progress = Callable[[int], Any]
Level = Union[None, bool, float]


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
    with `detail` as text and `findings` as a tuple of Finding (their words without the input's
    numbers)."""

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
    detail: str
    findings: Tuple[Finding, ...]


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
    findings: Tuple[Finding, ...]


class Error(Exception):
    """A conversion or inspection that failed: `status` (a Status), `text` (the library's words for
    it), `detail` (what exactly was wrong), `report` (a conversion's Report; an inspection's
    Inspection, measured as far as the file went when it is CORRUPTED), and for the calls that
    give bytes `output`, the bytes written before the failure."""

    def __init__(self, status: Union[Status, int], text: str, report: Union[Report, "Inspection", None] = None,
                 output: bytes = b"") -> None:
        self.detail = report.detail if isinstance(report, Report) else ""
        super().__init__(f"{text}: {self.detail} (status {int(status)})" if self.detail else f"{text} (status {int(status)})")
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
        ("detail", ctypes.c_char * 256),
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


_ReadFunction = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
_SeekFunction = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p, ctypes.c_int64, ctypes.c_int)
_TellFunction = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p)
_Writer = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)


class _Reader(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("read", _ReadFunction), ("seek", _SeekFunction), ("tell", _TellFunction)]


_DEFAULT_LEVEL_DB = -22.0
_READS_MP3 = 1
_SAMPLES_INT16 = 1
_SAMPLES_FLOAT = 2
_Progress = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int)


def _library_names() -> Iterator[str]:
    if sys.platform == "win32":
        soname = "aamsg.dll"
    elif sys.platform == "darwin":
        soname = "libaamsg.0.dylib"
    else:
        soname = "libaamsg.so.0"
    if os.environ.get("AAMSG_LIBRARY"):
        yield os.environ["AAMSG_LIBRARY"]
    if _LIBRARY_DIR:
        yield os.path.join(os.path.dirname(os.path.abspath(__file__)), _LIBRARY_DIR, soname)
    yield soname


try:
    from ._install import LIBRARY_DIR as _LIBRARY_DIR, VERSION as _VERSION
except ImportError:  # a copy of the module that was not installed
    _LIBRARY_DIR, _VERSION = "", ""


def _load() -> ctypes.CDLL:
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
    report = ctypes.POINTER(_Report)
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
        "aamsg_convert_file": (c_int, [c_char_p, c_char_p, c_void_p, _Progress, c_void_p, report]),
        "aamsg_convert_memory": (c_int, [c_void_p, c_size_t, ctypes.POINTER(c_void_p), ctypes.POINTER(c_size_t),
                                         c_void_p, _Progress, c_void_p, report]),
        "aamsg_free": (None, [c_void_p]),
        "aamsg_features": (c_uint, []),
        "aamsg_inspect_file": (c_int, [c_char_p, ctypes.POINTER(_Inspection), _Progress, c_void_p]),
        "aamsg_inspect_memory": (c_int, [c_void_p, c_size_t, ctypes.POINTER(_Inspection), _Progress, c_void_p]),
        "aamsg_finding_name": (c_char_p, [ctypes.c_uint32]),
        "aamsg_finding_threshold": (c_double, [ctypes.c_uint32]),
        "aamsg_finding_text": (c_size_t, [ctypes.c_uint32, ctypes.POINTER(_Inspection), ctypes.c_char_p, c_size_t]),
    }
    # The calls of 1.2; an older library lacks them, and only they fail.
    newer = {
        "aamsg_version_number": (c_uint, []),
        "aamsg_processors": (c_uint, []),
        "aamsg_convert_stream": (c_int, [ctypes.POINTER(_Reader), _Writer, c_void_p, c_void_p, _Progress, c_void_p, report]),
        "aamsg_encode_samples": (c_int, [c_void_p, c_int, c_size_t, c_uint, c_uint, ctypes.POINTER(c_void_p),
                                         ctypes.POINTER(c_size_t), c_void_p, _Progress, c_void_p, report]),
        "aamsg_decode_samples": (c_int, [c_void_p, c_size_t, ctypes.POINTER(c_void_p), ctypes.POINTER(c_size_t),
                                         _Progress, c_void_p, report]),
    }
    for name, (restype, argtypes) in list(signatures.items()) + list(newer.items()):
        function = getattr(lib, name, None)
        if function is None and name in newer:
            continue
        function.restype = restype
        function.argtypes = argtypes
    return lib


_lib = _load()


def _finding(flag: int, inspection: Optional[_Inspection] = None) -> Finding:
    """The library's Finding for one flag: with the numbers of an _Inspection, or without (None)."""
    where = ctypes.byref(inspection) if inspection is not None else None
    size = _lib.aamsg_finding_text(flag, where, None, 0)
    text = ctypes.create_string_buffer(size + 1)
    _lib.aamsg_finding_text(flag, where, text, size + 1)
    return Finding(_lib.aamsg_finding_name(flag).decode("ascii"), flag, _lib.aamsg_finding_threshold(flag),
                   text.value.decode("utf-8", "replace"))


#: Every finding the library knows, by name: asked of the library, one bit after the other.
FINDINGS = {finding.name: finding for finding in
            (_finding(1 << bit) for bit in range(32) if _lib.aamsg_finding_name(1 << bit))}


def _findings(flags: int, inspection: Optional[_Inspection] = None) -> Tuple[Finding, ...]:
    return tuple(_finding(1 << bit, inspection) for bit in range(32) if flags & (1 << bit) and _lib.aamsg_finding_name(1 << bit))


def version() -> str:
    """The loaded library's version, "MAJOR.MINOR.PATCH"."""
    return _lib.aamsg_version().decode("ascii")


def version_number() -> int:
    """The loaded library's version as (MAJOR << 16) | (MINOR << 8) | PATCH."""
    return int(_lib.aamsg_version_number())


#: This module's version (the library it loads says its own with version()).
__version__ = _VERSION or version()


def processors() -> int:
    """The processors this process may run on (its CPU affinity, within its cgroup's quota): what
    conversions running at once share for their search threads."""
    return int(_lib.aamsg_processors())


def reads_mp3() -> bool:
    """Whether this build of the library reads MP3 files (for q)."""
    return bool(_lib.aamsg_features() & _READS_MP3)


def status_text(status: Union[Status, int]) -> str:
    """The library's words for a status ("the input is corrupted")."""
    return _lib.aamsg_status_text(int(status)).decode("utf-8", "replace")


def _status(code: int) -> Union[Status, int]:
    try:
        return Status(code)
    except ValueError:  # a newer library's status: still an int, with the library's words
        return code


def _check(code: int) -> None:
    if code != Status.OK:
        raise Error(_status(code), status_text(code))


def _file_name(path: PathLike) -> bytes:
    # Names go to the library as UTF-8 on Windows and as the file system's bytes elsewhere.
    if sys.platform == "win32":
        return os.fspath(path).encode("utf-8") if not isinstance(path, bytes) else path
    return os.fsencode(path)


class _Interrupts:
    """Ctrl-C during a conversion: noted, so that the next progress mark stops the conversion, and
    raised as KeyboardInterrupt (or handed to the handler that was set) once the library has
    returned. A handler of Python's own would raise inside a ctypes callback, where the exception
    could only be printed and dropped. In threads other than the main one, signals are left be."""

    def __init__(self) -> None:
        self.caught = False
        self.previous: Any = None
        self.installed = False

    def __enter__(self) -> "_Interrupts":
        # Where Ctrl-C is ignored (a job in the background of a shell), it stays so.
        if threading.current_thread() is threading.main_thread() and signal.getsignal(signal.SIGINT) != signal.SIG_IGN:
            try:
                self.previous = signal.signal(signal.SIGINT, self._note)
                self.installed = True
            except ValueError:  # not the main interpreter's main thread
                pass
        return self

    def _note(self, signum: int, frame: Any) -> None:
        self.caught = True

    def __exit__(self, *exception: Any) -> None:
        if not self.installed:
            return
        signal.signal(signal.SIGINT, self.previous)
        if not self.caught or exception[0] is not None:
            return
        if self.previous is signal.default_int_handler or self.previous is None:
            raise KeyboardInterrupt
        if callable(self.previous):
            self.previous(signal.SIGINT, None)
        elif self.previous == signal.SIG_DFL:
            os.kill(os.getpid(), signal.SIGINT)


class _Listener:
    """The progress callback of one call: the caller's, if any, and Ctrl-C's."""

    def __init__(self, progress: Optional[Progress]) -> None:
        self.raised: Optional[BaseException] = None
        self.user_progress = progress
        self.interrupts = _Interrupts()
        # Always a callback, so that Ctrl-C stops the call at its next mark; it keeps the
        # caller's exception (ctypes would print and drop it) and stops the call with it.
        self.progress = _Progress(self._on_progress)

    def _on_progress(self, _context: Any, percent: int) -> int:
        if self.interrupts.caught or self.raised is not None:
            return 1
        if self.user_progress is None:
            return 0
        try:
            return 1 if self.user_progress(percent) else 0
        except BaseException as error:  # raised again once the library has returned
            self.raised = error
            return 1

    def fail(self, error: BaseException) -> int:
        """A callback's exception, kept to be raised again; the callback's failure code."""
        if self.raised is None:
            self.raised = error
        return -1

    def run(self, function: Callable[..., int], *arguments: Any) -> int:
        with self.interrupts:
            return function(*arguments)


class _Call(_Listener):
    """The options, the progress callback and the report of one conversion, freed when it ends."""

    def __init__(self, mode: str, level: Level, trim: bool, flat: bool, threads: int, progress: Optional[Progress]) -> None:
        if not isinstance(mode, str) or mode.lower() not in ("e", "d", "q"):
            raise ValueError(f"mode should be 'e', 'd' or 'q', not {mode!r}")
        if threads < 0:
            raise ValueError("threads should be 0 or more")
        self.options = _lib.aamsg_options_new()
        try:
            _check(_lib.aamsg_options_set_mode(self.options, ord(mode.lower())))
            if level is not None and level is not False:
                _check(_lib.aamsg_options_set_level(self.options, 1, _DEFAULT_LEVEL_DB if level is True else float(level)))
            if trim:
                _check(_lib.aamsg_options_set_trim(self.options, 1))
            if flat:
                _check(_lib.aamsg_options_set_flat(self.options, 1))
            if threads:
                _check(_lib.aamsg_options_set_threads(self.options, int(threads)))
        except BaseException:
            self.close()
            raise
        super().__init__(progress)
        self.report = _Report(size=ctypes.sizeof(_Report))

    def result(self, code: int, output: bytes = b"") -> Report:
        values = {field.name: field.type(getattr(self.report, field.name)) for field in dataclasses.fields(Report)
                  if field.name not in ("detail", "findings")}
        report = Report(**values, detail=self.report.detail.decode("utf-8", "replace"),
                        findings=_findings(self.report.findings))
        if self.raised is not None:
            raise self.raised
        if code != Status.OK:
            raise Error(_status(code), status_text(code), report, output)
        return report

    def close(self) -> None:
        if self.options:
            _lib.aamsg_options_free(self.options)
            self.options = None


def convert(input: PathLike, output: PathLike, mode: str = "q", level: Level = None, trim: bool = False,
            flat: bool = False, threads: int = 0, progress: Optional[Progress] = None) -> Report:
    """Converts the file `input` into the file `output` and returns the Report; raises Error.

    `output` is replaced only by a whole message (or by all of a cut input's, with
    Status.CORRUPTED raised): after any other failure the file that was there is as it was.
    `level`: q brings the active speech to this level in dB of full scale (-60 to -3), True for
    -22; `trim`: q removes the silence around the speech; `flat`: q does not shape the noise (for
    music); `threads`: the search's threads, 0 for a share of the processors. `progress(percent)`
    is called with 0, then each whole percent to 100; a true return stops the conversion
    (Status.CANCELLED).
    """
    call = _Call(mode, level, trim, flat, threads, progress)
    try:
        code = call.run(_lib.aamsg_convert_file, _file_name(input), _file_name(output), call.options, call.progress, None,
                        ctypes.byref(call.report))
        return call.result(code)
    finally:
        call.close()


def convert_bytes(data: Union[bytes, bytearray, memoryview], mode: str = "q", level: Level = None, trim: bool = False,
                  flat: bool = False, threads: int = 0, progress: Optional[Progress] = None) -> Tuple[bytes, Report]:
    """Converts the bytes of a file (a bytes-like object) and returns (output bytes, Report).

    The options are convert()'s. On a failure, the Error's `output` holds what was written.
    """
    data = bytes(data)
    call = _Call(mode, level, trim, flat, threads, progress)
    buffer = ctypes.c_void_p()
    size = ctypes.c_size_t()
    try:
        code = call.run(_lib.aamsg_convert_memory, data, len(data), ctypes.byref(buffer), ctypes.byref(size), call.options,
                        call.progress, None, ctypes.byref(call.report))
        output = ctypes.string_at(buffer.value, size.value) if buffer.value and size.value else b""
        return output, call.result(code, output)
    finally:
        if buffer.value:
            _lib.aamsg_free(buffer)
        call.close()


def convert_stream(input: BinaryIO, output: BinaryIO, mode: str = "q", level: Level = None, trim: bool = False,
                   flat: bool = False, threads: int = 0, progress: Optional[Progress] = None) -> Report:
    """Converts what the binary file object `input` reads into `output` (anything with write), in
    memory that does not grow with the input: a pipe or a socket as well as a file. An input that
    cannot seek is copied to a temporary file first; q's message is written once it is final.

    The options are convert()'s. An exception of `input` or `output` stops the conversion and is
    raised again.
    """
    call = _Call(mode, level, trim, flat, threads, progress)
    seekable = bool(getattr(input, "seekable", lambda: False)())
    readinto = getattr(input, "readinto", None)

    def read(_context: Any, buffer: int, size: int) -> int:
        try:
            if readinto is not None:
                return readinto((ctypes.c_char * size).from_address(buffer)) or 0
            data = input.read(size)
            ctypes.memmove(buffer, data, len(data))
            return len(data)
        except BaseException as error:
            return call.fail(error)

    def seek(_context: Any, offset: int, whence: int) -> int:
        try:
            return input.seek(offset, whence)
        except BaseException:  # an input that cannot seek after all: it is copied aside
            return -1

    def tell(_context: Any) -> int:
        try:
            return input.tell()
        except BaseException:
            return -1

    def write(_context: Any, data: int, size: int) -> int:
        try:
            output.write(ctypes.string_at(data, size))
            return 0
        except BaseException as error:
            call.fail(error)
            return 1

    reader = _Reader(None, _ReadFunction(read), _SeekFunction(seek) if seekable else _SeekFunction(),
                     _TellFunction(tell) if seekable else _TellFunction())
    writer = _Writer(write)
    try:
        code = call.run(_lib.aamsg_convert_stream, ctypes.byref(reader), writer, None, call.options, call.progress, None,
                        ctypes.byref(call.report))
        return call.result(code)
    finally:
        call.close()


def _numpy() -> Any:
    try:
        import numpy
    except ImportError:
        return None
    return numpy


def _samples_pointer(samples: Any, channels: Optional[int]) -> Tuple[Any, int, int, int, Any]:
    """(pointer, sample type, frames, channels, what keeps the memory alive) of samples given as a
    numpy array or as a buffer of 'h' (int16) or 'f' (float32) items."""
    numpy = _numpy()
    if numpy is not None and isinstance(samples, numpy.ndarray):
        if samples.dtype == numpy.float64:
            samples = samples.astype(numpy.float32)
        if samples.dtype not in (numpy.int16, numpy.float32):
            raise TypeError(f"samples should be int16 or float32 (full scale 1.0), not {samples.dtype}")
        if samples.ndim == 2:
            if channels is not None and channels != samples.shape[1]:
                raise ValueError(f"{channels} channels asked for, but the array has {samples.shape[1]}")
            channels = samples.shape[1]
        elif samples.ndim != 1:
            raise ValueError("samples should be one channel (1-D) or frames by channels (2-D)")
        samples = numpy.ascontiguousarray(samples, dtype=samples.dtype.newbyteorder("="))
        kind = _SAMPLES_INT16 if samples.dtype == numpy.int16 else _SAMPLES_FLOAT
        channels = channels or 1
        if samples.size % channels:
            raise ValueError(f"{samples.size} samples do not make whole frames of {channels} channels")
        return ctypes.c_void_p(samples.ctypes.data), kind, samples.size // channels, channels, samples
    view = memoryview(samples)
    kinds = {"h": _SAMPLES_INT16, "f": _SAMPLES_FLOAT}
    item = view.format.lstrip("@=")
    if item not in kinds:
        raise TypeError(f"samples should be int16 ('h') or float32 ('f') items, not {view.format!r}")
    channels = channels or 1
    count = view.nbytes // view.itemsize
    if count % channels:
        raise ValueError(f"{count} samples do not make whole frames of {channels} channels")
    data = view.tobytes() if view.readonly or not view.c_contiguous else view
    keep = (ctypes.c_char * view.nbytes).from_buffer(data) if isinstance(data, memoryview) else ctypes.c_char_p(data)
    return ctypes.cast(keep, ctypes.c_void_p), kinds[item], count // channels, channels, (data, keep)


def encode_samples(samples: Any, rate: int, channels: Optional[int] = None, mode: str = "q", level: Level = None,
                   trim: bool = False, flat: bool = False, threads: int = 0,
                   progress: Optional[Progress] = None) -> Tuple[bytes, Report]:
    """Encodes interleaved samples at `rate` frames a second and returns (message, Report): the same
    message as from the WAVE file of those samples.

    `samples`: a numpy array of int16 or float32 (float64 is taken as float32), one channel (1-D)
    or frames by channels (2-D); or any buffer of int16 ('h') or float32 ('f') items, such as an
    array.array, with `channels` interleaved. Floats are full scale at 1.0; e takes int16 only.
    The other options are convert()'s.
    """
    pointer, kind, frames, channels, keep = _samples_pointer(samples, channels)
    call = _Call(mode, level, trim, flat, threads, progress)
    buffer = ctypes.c_void_p()
    size = ctypes.c_size_t()
    try:
        code = call.run(_lib.aamsg_encode_samples, pointer, kind, frames, int(rate), int(channels), ctypes.byref(buffer),
                        ctypes.byref(size), call.options, call.progress, None, ctypes.byref(call.report))
        output = ctypes.string_at(buffer.value, size.value) if buffer.value and size.value else b""
        return output, call.result(code, output)
    finally:
        del keep
        if buffer.value:
            _lib.aamsg_free(buffer)
        call.close()


def decode_samples(message: Union[bytes, bytearray, memoryview],
                   progress: Optional[Progress] = None) -> Tuple[Union["numpy.ndarray", array.array], Report]:
    """Decodes a message into its samples, 8000 a second, and returns (samples, Report): exactly the
    samples of d's WAVE file. They are a numpy int16 array when numpy is installed (in the
    library's memory, not copied), else an array.array of 'h'."""
    data = bytes(message)
    call = _Call("d", None, False, False, 0, progress)
    pointer = ctypes.c_void_p()
    count = ctypes.c_size_t()
    try:
        code = call.run(_lib.aamsg_decode_samples, data, len(data), ctypes.byref(pointer), ctypes.byref(count), call.progress,
                        None, ctypes.byref(call.report))
        report = call.result(code)
    finally:
        call.close()
    numpy = _numpy()
    if not pointer.value:
        return (numpy.zeros(0, dtype=numpy.int16) if numpy is not None else array.array("h")), report
    samples = (ctypes.c_int16 * count.value).from_address(pointer.value)
    if numpy is None:
        copy = array.array("h")
        copy.frombytes(memoryview(samples).cast("B"))  # one copy, not two
        _lib.aamsg_free(pointer)
        return copy, report
    weakref.finalize(samples, _lib.aamsg_free, ctypes.c_void_p(pointer.value))
    return numpy.frombuffer(samples, dtype=numpy.int16), report


def _inspection(result: _Inspection) -> Inspection:
    values = {field.name: field.type(getattr(result, field.name))
              for field in dataclasses.fields(Inspection) if field.name not in ("format", "findings")}
    return Inspection(format=result.format.decode("utf-8", "replace"), findings=_findings(result.findings, result),
                      **values)


def _inspect(function: Callable[..., int], progress: Optional[Progress], *arguments: Any) -> Inspection:
    """Runs function(*arguments, result, progress callback, None) and returns the Inspection; raises
    Error as convert() does."""
    listener = _Listener(progress)
    result = _Inspection(size=ctypes.sizeof(_Inspection))
    code = listener.run(function, *arguments, ctypes.byref(result), listener.progress, None)
    if listener.raised is not None:
        raise listener.raised
    inspection = _inspection(result)
    if code != Status.OK:
        raise Error(_status(code), status_text(code), inspection if code == Status.CORRUPTED else None)
    return inspection


def inspect(input: PathLike, progress: Optional[Progress] = None) -> Inspection:
    """Measures the file `input` and returns its Inspection; raises Error (a file cut short:
    Status.CORRUPTED, with what was measured in its `report`). A file that is no audio is read as
    a message. `progress` and Ctrl-C as for convert()."""
    return _inspect(_lib.aamsg_inspect_file, progress, _file_name(input))


def inspect_bytes(data: Union[bytes, bytearray, memoryview], progress: Optional[Progress] = None) -> Inspection:
    """Measures the bytes of a file (a bytes-like object), as inspect() does a file."""
    data = bytes(data)
    return _inspect(_lib.aamsg_inspect_memory, progress, data, len(data))
