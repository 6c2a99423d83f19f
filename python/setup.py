"""Builds the varkel package offline with Debian's packages: CMake builds the
extension module _varkel from the project's sources one folder up (with the
interpreter running this), and the package carries the Varkel module in vst/.

    /usr/bin/python3 -m venv --system-site-packages .venv
    .venv/bin/pip install -v --no-index --no-build-isolation ./python

(-v shows the build's progress; pip is silent without it.)
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        # Only the extension and what it links (and the Varkel module and the
        # isolated plug-ins' child it carries): no tests, fixtures, tools or benchmarks. A unity build
        # compiles a folder's files as one, several times faster from clean.
        options = ["-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                   "-DVARKEL_BUILD_BENCHMARKS=OFF", "-DCMAKE_UNITY_BUILD=ON",
                   "-DCMAKE_UNITY_BUILD_BATCH_SIZE=16", f"-DVARKEL_PYTHON_EXECUTABLE={sys.executable}"]
        if shutil.which("ccache"):  # a second install compiles nothing again
            options += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", *options],
                       check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 2))
        subprocess.run(["cmake", "--build", str(build), "--target", "_varkel", "-j", jobs],
                       check=True)
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        built = build / "python" / "varkel"
        shutil.copy2(next(built.glob("_varkel*.so")), target)
        (target.parent / "vst").mkdir(exist_ok=True)
        shutil.copy2(built / "vst" / "Varkel.so", target.parent / "vst" / "Varkel.so")
        # The child that runs an isolated plug-in, beside the extension.
        shutil.copy2(built / "varkel-plugin-host", target.parent / "varkel-plugin-host")


setup(
    packages=["varkel", "varkel.cluster"],
    package_data={"varkel": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("varkel._varkel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
