"""The aamsg wheel: the module, with libaamsg inside it, so that it needs no library installed.

The library is built by the project's own CMake from the source tree this folder is in (or
AAMSG_SOURCE_DIR), in setuptools' build folder; AAMSG_PREBUILT_LIBRARY names a library already
built (a build's libaamsg.so.0) to take instead. The module is Python over ctypes, so the wheel
fits every Python 3 of the platform the library was built for: py3-none-<platform>.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("AAMSG_SOURCE_DIR", HERE.parent))
LIBRARY = {"win32": "aamsg.dll", "darwin": "libaamsg.0.dylib"}.get(sys.platform, "libaamsg.so.0")


def project_version():
    """The version, set once: in CMakeLists.txt's project()."""
    match = re.search(r"project\(aamsg VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text())
    if match is None:
        raise RuntimeError(f"no project(aamsg VERSION ...) in {SOURCE / 'CMakeLists.txt'}")
    return match.group(1)


VERSION = project_version()


class BuildWithLibrary(build_py):
    """The module's files, then the library beside them and _install.py saying where it is."""

    def run(self):
        super().run()
        package = Path(self.build_lib) / "aamsg"
        library = os.environ.get("AAMSG_PREBUILT_LIBRARY")
        if not library:
            build = Path(self.get_finalized_command("build").build_temp).resolve() / "cmake"
            subprocess.check_call(["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DAAMSG_TESTS=OFF"])
            subprocess.check_call(["cmake", "--build", str(build), "--target", "aamsg_shared", "-j", str(os.cpu_count() or 2)])
            library = build / LIBRARY
        shutil.copyfile(library, package / LIBRARY)  # the file a link names, not the link
        (package / "_install.py").write_text(
            "# Written when the wheel was built: the library is in the module's folder.\n"
            f'LIBRARY_DIR = "."\nVERSION = "{VERSION}"\n')


class WithLibrary(Distribution):
    """A distribution of this platform: it holds a library, as one with extension modules does."""

    def has_ext_modules(self):
        return True


commands = {"build_py": BuildWithLibrary}
try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        """A wheel of this platform, for any Python 3: the module reaches the library by ctypes."""

        def get_tag(self):
            return ("py3", "none", super().get_tag()[2])

    commands["bdist_wheel"] = PlatformWheel
except ImportError:  # without the wheel package there is no wheel to make
    pass

setup(version=VERSION, cmdclass=commands, distclass=WithLibrary)
