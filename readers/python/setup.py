"""Builds the extension module with CMake, as the project's own trees do:
target mrvln_python, which links the core (mrvln_core), from the checkout
that holds this folder. Metadata is in pyproject.toml; the version is the
project's, from its top CMakeLists.txt."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(\S+ VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not (ROOT / "codec" / "morvellane.h").is_file():
            raise SystemExit(f"morvellane: the project's core is not at {ROOT}/codec; "
                             "build from a checkout of the whole project")
        tree = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree),
                     "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        if not (tree / "CMakeCache.txt").exists() and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        build = ["cmake", "--build", str(tree), "--target", "mrvln_python"]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build += ["--parallel", str(os.cpu_count() or 1)]
        subprocess.run(build, check=True)
        name = "_morvellane" + sysconfig.get_config_var("EXT_SUFFIX")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(tree / "readers" / "python" / "morvellane" / name, target)


setup(
    version=project_version(),
    ext_modules=[Extension("morvellane._morvellane", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
