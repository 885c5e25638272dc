#!/usr/bin/env python3
"""The library as another program sees it: installed with `cmake --install` into a temporary
prefix, examples/convert.c built through pkg-config (shared and static) and through find_package
(tests/install/CMakeLists.txt), examples/convert.py run on the installed module. For e, d and q
each must write the installed tool's bytes, and all must print the same report and status; the
module's inspection must say what the tool's does. Then the stream and samples examples (C, and
Python through numpy) against the tool's bytes, the header as C89 and C++98, and Ctrl-C in a
Python conversion.

usage: install_test.py BUILD_DIR SOURCE_DIR
"""
import array
import math
import os
import pathlib
import shlex
import signal
import subprocess
import sys
import tempfile
import time
import wave

BUILD, SOURCE = map(pathlib.Path, sys.argv[1:3])
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(args, env=None, cwd=None):
    return subprocess.run([str(a) for a in args], capture_output=True, env=env, cwd=cwd, check=False)


def must(args, env=None, cwd=None):
    done = run(args, env, cwd)
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, args))} failed:\n{done.stdout.decode()}{done.stderr.decode()}")
    return done.stdout.decode()


def write_wave(path):
    """1.4 s of 22050 Hz stereo: silence, a gliding tone whose loudness swells and falls, silence
    (so that q's level and trim have speech-like activity to find)."""
    rate, frames = 22050, []
    for n in range(int(1.4 * rate)):
        t = n / rate
        active = 0.25 <= t < 1.1
        envelope = math.sin(math.pi * (t - 0.25) / 0.85) if active else 0.0
        value = 6000 * envelope * math.sin(2 * math.pi * (300 + 400 * t) * t) if active else 0.0
        frames += [int(value), int(value * 0.7)]
    with wave.open(str(path), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(array.array("h", frames).tobytes())


def python_with(*modules):
    """An interpreter that has these modules: this one, or Debian's."""
    for python in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(python) and run([python, "-c", "import " + ", ".join(modules)]).returncode == 0:
            return python
    sys.exit(f"no Python here has {', '.join(modules)} (Debian: python3-numpy)")


def exported_symbols(library):
    names = must(["nm", "-D", "--defined-only", "--format=posix", library]).split("\n")
    return sorted(line.split()[0] for line in names if line.strip())


def listed_symbols():
    lines = (SOURCE / "packaging/debian/libaamsg0.symbols").read_text().splitlines()
    return sorted(line.split()[0].split("@")[0] for line in lines if line.startswith(" "))


with tempfile.TemporaryDirectory(prefix="aamsg-install-") as scratch:
    scratch = pathlib.Path(scratch)
    prefix = scratch / "prefix"
    must(["cmake", "--install", BUILD, "--prefix", prefix])
    libdir = next(p.parent for p in prefix.glob("lib*/**/libaamsg.so.0"))
    env = dict(os.environ, LD_LIBRARY_PATH=str(libdir), PKG_CONFIG_PATH=str(libdir / "pkgconfig"))
    # The installed tool and the Python module find the library of their prefix by themselves.
    bare_env = {name: value for name, value in os.environ.items() if name != "LD_LIBRARY_PATH"}
    check((prefix / "share/man/man1/aamsg.1.gz").is_file(), "the manual is installed")
    check(exported_symbols(libdir / "libaamsg.so.0") == listed_symbols(),
          "the library exports exactly the symbols of packaging/debian/libaamsg0.symbols")

    # The C example, four ways. Warnings are errors: the header must be clean C for C programs.
    example, cflags = SOURCE / "examples/convert.c", ["-std=c11", "-Wall", "-Wextra", "-Wpedantic", "-Wconversion", "-Werror"]
    shared = shlex.split(must(["pkg-config", "--cflags", "--libs", "aamsg"], env))
    must(["cc", *cflags, example, *shared, "-o", scratch / "convert-pc"], env)
    # The static library through its own module, which names it by its file: the shared library
    # beside it is never taken.
    static = shlex.split(must(["pkg-config", "--cflags", "--libs", "aamsg-static"], env))
    must(["cc", *cflags, example, *static, "-o", scratch / "convert-pc-static"], env)
    check("libaamsg" not in must(["readelf", "-d", scratch / "convert-pc-static"]),
          "the static build does not load libaamsg.so")
    # --static gives everything below it as well, for a fully static program.
    closure = must(["pkg-config", "--static", "--libs", "aamsg"], env).split()
    check("-lsoxr" in closure and "-lstdc++" in closure and len(closure) > 5, f"pkg-config --static: {closure}")
    # The header is C89 and C++98 as well as what the examples are built as.
    header_check = scratch / "header.c"
    header_check.write_text("#include <aamsg.h>\nint main(void) { return aamsg_version_number() == AAMSG_VERSION_NUMBER ? 0 : 1; }\n")
    include = shlex.split(must(["pkg-config", "--cflags", "aamsg"], env))
    must(["cc", "-std=c89", "-Wall", "-Wextra", "-Wpedantic", "-Werror", *include, "-c", header_check, "-o", scratch / "c89.o"])
    must(["c++", "-std=c++98", "-Wall", "-Wextra", "-Wpedantic", "-Werror", "-x", "c++", *include, "-c", header_check,
          "-o", scratch / "cxx98.o"])
    major = must(["pkg-config", "--modversion", "aamsg"], env).split(".")[0]
    must(["cmake", "-S", SOURCE / "tests/install", "-B", scratch / "consumer", f"-DCMAKE_PREFIX_PATH={prefix}",
          f"-DAAMSG_MAJOR={major}", f"-DEXAMPLE={example}", "-DCMAKE_BUILD_TYPE=Release"], env)
    must(["cmake", "--build", scratch / "consumer"], env)

    # The Python example finds the library of its own prefix: no LD_LIBRARY_PATH.
    python_env = dict(bare_env, PYTHONPATH=str(next(prefix.glob("lib/python3*/*-packages"))))
    runners = {
        "C, pkg-config": ([scratch / "convert-pc"], env),
        "C, pkg-config --static": ([scratch / "convert-pc-static"], env),
        "C, find_package": ([scratch / "consumer/convert_shared"], env),
        "C, find_package static": ([scratch / "consumer/convert_static"], env),
        "Python": ([sys.executable, SOURCE / "examples/convert.py"], python_env),
    }

    wav, msg, text = scratch / "in.wav", scratch / "in.msg", scratch / "notes.txt"
    write_wave(wav)
    must([prefix / "bin/aamsg", "e", wav, msg], bare_env)
    text.write_text("not audio\n")
    # name, arguments, the tool's exit code, the examples' status
    cases = [
        ("e", ["e", wav], 0, 0),
        ("d", ["d", msg], 0, 0),
        ("q", ["q", wav], 0, 0),
        ("q --level --trim", ["q", "--level", "--trim", wav], 0, 0),
        ("Q --level=-30 --flat", ["Q", "--level=-30", "--flat", wav], 0, 0),
        ("a missing input", ["e", scratch / "missing.wav"], 102, 1),
        ("e of a text file", ["e", text], 201, 6),
        ("q of a text file", ["q", text], 201, 6),
        ("a level out of range", ["q", "--level=-70", wav], 101, 13),
        ("an unknown option", ["q", "--loud", wav], 101, 13),
    ]
    for name, args, tool_code, status in cases:
        expected = scratch / "tool.out"
        tool = run([prefix / "bin/aamsg", *args, expected], bare_env)
        check(tool.returncode == tool_code, f"{name}: the tool exits with {tool_code}, not {tool.returncode}")
        reports = {}
        for runner, (command, runner_env) in runners.items():
            out = scratch / f"{runner.replace(' ', '_')}.out"
            done = run([*command, *args, out], runner_env)
            check(done.returncode == status, f"{name}, {runner}: exits with {status}, not {done.returncode}: {done.stderr}")
            reports[runner] = done.stdout
            if status == 0:
                check(out.read_bytes() == expected.read_bytes(), f"{name}, {runner}: the tool's bytes")
        check(len(set(reports.values())) == 1, f"{name}: one report and status from every runner: {reports}")
        if status == 0:
            check(b"status: 0 (" in reports["Python"], f"{name}: the status is printed")

    # What the examples do not reach: bytes in memory, progress, and errors as exceptions.
    sys.path.insert(0, python_env["PYTHONPATH"])
    os.environ.pop("LD_LIBRARY_PATH", None)
    import aamsg

    check(aamsg.version() == must(["pkg-config", "--modversion", "aamsg"], env).strip(), "aamsg.version()")
    reference = scratch / "reference.msg"
    run([prefix / "bin/aamsg", "q", "--level", "--trim", wav, reference], bare_env)
    percents = []
    report = aamsg.convert(wav, scratch / "file.msg", mode="q", level=-22, trim=True, progress=percents.append)
    output, memory_report = aamsg.convert_bytes(wav.read_bytes(), mode="q", level=True, trim=True)
    check(output == reference.read_bytes(), "convert_bytes gives the tool's bytes")
    check(memory_report == report, f"convert_bytes reports what convert does: {memory_report} {report}")
    check(report.trimmed_start_seconds > 0.1 and report.speech_found and report.finished, f"the report's fields: {report}")
    check(percents[:1] == [0] and percents[-1:] == [100] and percents == sorted(percents), f"progress: {percents}")
    for stop, raised in [(lambda p: p >= 50, aamsg.Error), (lambda p: 1 / 0 if p >= 50 else None, ZeroDivisionError)]:
        try:
            aamsg.convert(wav, scratch / "stopped.msg", mode="e", progress=stop)
            check(False, f"a progress callback that stops the conversion raises {raised.__name__}")
        except raised as error:
            check(raised is not aamsg.Error or error.status == aamsg.Status.CANCELLED, f"cancelled: {error}")
    try:
        aamsg.convert_bytes(b"RIFF", mode="e")
        check(False, "convert_bytes of 4 bytes raises")
    except aamsg.Error as error:
        check(error.status in (aamsg.Status.NOT_AUDIO, aamsg.Status.CORRUPTED), f"convert_bytes of 4 bytes: {error}")
        check(error.text == aamsg.status_text(error.status) and str(int(error.status)) in str(error),
              f"the error carries the status's number and text: {error}")

    # Inspection: by file and by bytes alike, in the tool's words; a message of silence; a cut file.
    inspection = aamsg.inspect(wav)
    check(inspection == aamsg.inspect_bytes(wav.read_bytes()), "inspect_bytes measures what inspect does")
    check((inspection.format, inspection.rate, inspection.channels, inspection.is_message, inspection.speech_found)
          == ("WAVE 16-bit PCM", 22050, 2, False, True), f"the inspection's fields: {inspection}")
    shown = must([prefix / "bin/aamsg", "i", wav], bare_env)
    check(all(f"\r\n  - {finding.text}\r\n" in shown for finding in inspection.findings), f"the tool's words: {shown}")
    check(list(aamsg.FINDINGS) == ["no_speech", "noise_only", "too_quiet", "too_loud", "clipped", "silence_start",
                                   "silence_end", "noisy", "dc_offset", "large_gain"], f"FINDINGS: {list(aamsg.FINDINGS)}")
    check(aamsg.FINDINGS["too_quiet"].threshold == -28.0, "thresholds from the library")
    silent = aamsg.inspect_bytes(b"\x08" * 4000)
    check(silent.is_message and [f.name for f in silent.findings] == ["no_speech"], f"a silent message: {silent}")
    _, empty_report = aamsg.convert_bytes(b"RIFF" + wav.read_bytes()[4:40] + b"\0\0\0\0", mode="q")
    check([f.name for f in empty_report.findings] == ["no_speech"], f"an empty WAVE file's report: {empty_report}")
    try:
        aamsg.inspect_bytes(wav.read_bytes()[:len(wav.read_bytes()) // 2])
        check(False, "inspecting a cut file raises")
    except aamsg.Error as error:
        check(error.status == aamsg.Status.CORRUPTED and error.report.seconds > 0.5, f"a cut file: {error} {error.report}")

    # The stream and samples examples: the tool's bytes, from a file and from a pipe.
    for name in ("stream", "samples"):
        must(["cc", *cflags, SOURCE / f"examples/{name}.c", *shared, "-o", scratch / name], env)
    tool_message = scratch / "tool-q.msg"
    run([prefix / "bin/aamsg", "q", wav, tool_message], bare_env)
    tool_wave = scratch / "tool-d.wav"
    run([prefix / "bin/aamsg", "d", tool_message, tool_wave], bare_env)
    for mode, source, expected in (("q", wav, tool_message), ("e", wav, msg), ("d", tool_message, tool_wave)):
        with open(source, "rb") as file:
            from_file = subprocess.run([str(scratch / "stream"), mode], stdin=file, capture_output=True, env=env)
        from_pipe = subprocess.run([str(scratch / "stream"), mode], input=source.read_bytes(), capture_output=True, env=env)
        for way, done in (("a file", from_file), ("a pipe", from_pipe)):
            check(done.returncode == 0 and done.stdout == expected.read_bytes(), f"stream {mode} from {way}: the tool's bytes")
    refused = subprocess.run([str(scratch / "stream"), "e"], input=b"notes", capture_output=True, env=env)
    check(refused.returncode == 6 and b"RIFF WAVE header" in refused.stderr, f"stream e of a text: {refused}")

    # Samples: the raw samples of the WAVE file give the tool's q of it; the message's samples are
    # d's WAVE file's.
    with wave.open(str(wav), "rb") as source:
        raw = scratch / "in.raw"
        raw.write_bytes(source.readframes(source.getnframes()))
        rate, channels = source.getframerate(), source.getnchannels()
    numpy_python = python_with("numpy")
    numpy_env = dict(python_env, PYTHONPATH=python_env["PYTHONPATH"])
    samplers = {"C": ([scratch / "samples"], env), "Python": ([numpy_python, SOURCE / "examples/samples.py"], numpy_env)}
    for name, (command, runner_env) in samplers.items():
        encoded, decoded = scratch / f"samples-{name}.msg", scratch / f"samples-{name}.raw"
        done = run([*command, "q", raw, rate, channels, encoded], runner_env)
        check(done.returncode == 0 and encoded.read_bytes() == tool_message.read_bytes(), f"samples q, {name}: {done.stderr}")
        done = run([*command, "d", tool_message, decoded], runner_env)
        check(done.returncode == 0 and decoded.read_bytes() == tool_wave.read_bytes()[44:], f"samples d, {name}: {done.stderr}")
        done = run([*command, "q", raw, 0, channels, encoded], runner_env)
        check(done.returncode == 13 and b"a rate of 0" in done.stderr, f"samples q at 0 Hz, {name}: {done}")

    # Ctrl-C stops a Python conversion at its next mark and raises KeyboardInterrupt, with or
    # without a callback, and nothing is printed of an exception lost in a callback.
    long_wav = scratch / "long.wav"
    with wave.open(str(long_wav), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(44100)
        tone = array.array("h", (int(8000 * math.sin(i * 0.05)) for i in range(2 * 44100)))
        for _ in range(120):
            out.writeframes(tone.tobytes())
    script = ("import aamsg, sys, time\n"
              "callback = (lambda percent: None) if sys.argv[2] == 'callback' else None\n"
              "try:\n"
              "    aamsg.convert(sys.argv[1], sys.argv[1] + '.msg', level=True, progress=callback)\n"
              "    print('finished')\n"
              "except KeyboardInterrupt:\n"
              "    print('KeyboardInterrupt')\n")
    for callback in ("callback", "none"):
        child = subprocess.Popen([sys.executable, "-c", script, str(long_wav), callback], env=python_env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(1.5)
        asked = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate()
        waited = time.monotonic() - asked
        check(out.strip() == b"KeyboardInterrupt" and not err, f"Ctrl-C, {callback}: {out} {err}")
        check(waited < 2.0, f"Ctrl-C, {callback}: stopped after {waited:.2f} s (about 0.3 s here)")
        check(not (scratch / "long.wav.msg").exists(), f"Ctrl-C, {callback}: no message left")

if failures:
    sys.exit(f"{len(failures)} failed")
print("install, pkg-config, find_package, the C and Python examples: OK")
