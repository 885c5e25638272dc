#!/usr/bin/env python3
"""The Python module as Python users install it: the wheel made from this build's library (what
`make wheel` makes through the project's CMake), installed into a fresh virtual environment,
runs the examples with no LD_LIBRARY_PATH and no PYTHONPATH and writes the tool's bytes.

usage: wheel_test.py BUILD_DIR SOURCE_DIR
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

BUILD, SOURCE = map(pathlib.Path, sys.argv[1:3])
# Debian's python3 has pip, venv, setuptools, wheel and numpy as packages; another may not.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def must(args, **options):
    done = subprocess.run([str(a) for a in args], capture_output=True, check=False, **options)
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, args))} failed:\n{done.stdout.decode()}{done.stderr.decode()}")
    return done


with tempfile.TemporaryDirectory(prefix="aamsg-wheel-") as scratch:
    scratch = pathlib.Path(scratch)
    # The package's folder copied, so that setuptools' build files stay out of the source tree.
    shutil.copytree(SOURCE / "python", scratch / "python", ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
    env = dict(os.environ, AAMSG_SOURCE_DIR=str(SOURCE), AAMSG_PREBUILT_LIBRARY=str(BUILD / "libaamsg.so.0"))
    must([PYTHON, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "--no-index", "-w", scratch / "dist",
          scratch / "python"], env=env)
    wheels = list((scratch / "dist").glob("aamsg-*.whl"))
    check(len(wheels) == 1 and wheels[0].name.endswith("-py3-none-linux_x86_64.whl") or sys.platform != "linux",
          f"one wheel, aamsg-<version>-py3-none-<platform>.whl: {wheels}")
    names = zipfile.ZipFile(wheels[0]).namelist()
    for name in ("aamsg/__init__.py", "aamsg/libaamsg.so.0", "aamsg/py.typed", "aamsg/_install.py"):
        check(name in names, f"the wheel holds {name}: {names}")

    # A fresh environment that sees Debian's numpy, and nothing of this build's.
    venv = scratch / "venv"
    must([PYTHON, "-m", "venv", "--system-site-packages", venv])
    must([venv / "bin/pip", "install", "--no-index", "--no-deps", wheels[0]])
    bare = {name: value for name, value in os.environ.items() if name not in ("LD_LIBRARY_PATH", "PYTHONPATH", "AAMSG_LIBRARY")}
    python = venv / "bin/python"
    where = must([python, "-c", "import aamsg; print(aamsg.__file__); print(aamsg._lib._name); print(aamsg.__version__)"],
                 env=bare, cwd=scratch).stdout.decode().split()
    check(where[0].startswith(str(venv)) and where[1].startswith(str(venv)), f"module and library from the environment: {where}")
    version = re.search(r"project\(aamsg VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text()).group(1)
    check(where[2] == version and wheels[0].name.startswith(f"aamsg-{version}-"), f"aamsg.__version__ {where[2]}, {version}")

    tool = BUILD / "aamsg"
    sample = SOURCE / "samples/thank-you.wav"
    expected = {}
    for mode, source in (("e", sample), ("q", sample), ("d", scratch / "tool-e.msg")):
        out = scratch / f"tool-{mode}.{'wav' if mode == 'd' else 'msg'}"
        must([tool, mode, source, out])
        expected[mode] = (source, out.read_bytes())
    for mode, (source, bytes_) in expected.items():
        out = scratch / f"python-{mode}.out"
        done = subprocess.run([str(python), str(SOURCE / "examples/convert.py"), mode, str(source), str(out)], env=bare,
                              capture_output=True)
        check(done.returncode == 0 and out.read_bytes() == bytes_, f"convert.py {mode} from the wheel: {done.stderr}")
    raw = scratch / "in.raw"
    raw.write_bytes(sample.read_bytes()[44:])
    done = subprocess.run([str(python), str(SOURCE / "examples/samples.py"), "q", str(raw), "44100", "2", str(scratch / "s.msg")],
                          env=bare, capture_output=True)
    check(done.returncode == 0 and (scratch / "s.msg").read_bytes() == expected["q"][1], f"samples.py from the wheel: {done.stderr}")
    # decode_samples gives d's samples as numpy's int16, and without numpy as an array.array.
    decode = ("import sys, aamsg\nif sys.argv[1] == 'without': sys.modules['numpy'] = None\n"
              "samples, _ = aamsg.decode_samples(open(sys.argv[2], 'rb').read())\n"
              "print(type(samples).__name__, file=sys.stderr)\nsys.stdout.buffer.write(samples.tobytes())\n")
    for numpy, kind in (("with", b"ndarray"), ("without", b"array")):
        done = subprocess.run([str(python), "-c", decode, numpy, str(scratch / "tool-e.msg")], env=bare, capture_output=True)
        check(done.returncode == 0 and done.stderr.strip() == kind and done.stdout == expected["d"][1][44:],
              f"decode_samples {numpy} numpy: {done.stderr}")

if failures:
    sys.exit(f"{len(failures)} failed")
print("the wheel installs into a fresh environment and gives the tool's bytes: OK")
