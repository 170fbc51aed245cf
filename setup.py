"""Builds the C++ extension with CMake as part of an ordinary setuptools build."""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # A persistent build tree keeps repeated installs incremental; the
        # test script shares it so the module is compiled once.
        build_dir = pathlib.Path(os.environ.get("BRINDLECOVE_CMAKE_BUILD_DIR", ROOT / "build" / "cmake"))
        module_dir = ROOT / "python" / "brindlecove"
        subprocess.run(
            [
                "cmake", "-S", str(ROOT), "-B", str(build_dir),
                f"-DPython3_EXECUTABLE={sys.executable}",
            ],
            check=True,
        )
        jobs = os.environ.get("BRINDLECOVE_BUILD_JOBS", str(os.cpu_count() or 2))
        subprocess.run(
            ["cmake", "--build", str(build_dir), "--target", "_brindlecove", "-j", jobs],
            check=True,
        )
        built = sorted(module_dir.glob("_brindlecove*.so"))
        if not built:
            raise RuntimeError(f"CMake produced no extension module in {module_dir}")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built[-1], target)


setup(
    ext_modules=[CMakeExtension("brindlecove._brindlecove")],
    cmdclass={"build_ext": CMakeBuild},
)
