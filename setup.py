"""Builds the Python package through the project's CMake: configures a release
build of the module alone (no tests, no benchmarks), builds the module target,
and takes the package directory the build tree holds (the compiled module, the
Python files, the stubs and py.typed) into the wheel."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent


def version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(korvalinde VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build),
                        "-DCMAKE_BUILD_TYPE=Release", "-DKORVALINDE_TESTS=OFF",
                        "-DKORVALINDE_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}"],
                       check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "korvalinde_python",
                        "-j", jobs], check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        shutil.copytree(build / "python" / "korvalinde", target, dirs_exist_ok=True)


setup(
    version=version(),
    packages=["korvalinde"],
    package_dir={"": "python"},
    package_data={"korvalinde": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("korvalinde._korvalinde", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
