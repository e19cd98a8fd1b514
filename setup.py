"""Builds the orafon package with CMake: the pybind11 extension, the platform
library and the modules it loads at run time, all copied beside the package."""

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
        package_dir = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        stage_dir = pathlib.Path(self.build_temp).resolve() / "stage"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                     "-DORAFON_BUILD_TESTS=OFF", "-DORAFON_BUILD_BENCH=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "orafon_python", "-j", jobs], check=True)
        if stage_dir.exists():
            shutil.rmtree(stage_dir)
        subprocess.run(["cmake", "--install", str(build_dir), "--component", "python", "--prefix", str(stage_dir)],
                       check=True)
        package_dir.mkdir(parents=True, exist_ok=True)
        for item in (stage_dir / "orafon").iterdir():
            if item.suffix != ".py":  # the sources come from build_py
                shutil.copy2(item, package_dir / item.name)


setup(
    packages=["orafon"],
    package_dir={"orafon": "python/orafon"},
    ext_modules=[CMakeExtension("orafon._orafon")],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
    # Apart from build/, the CMake build of scripts/build.sh.
    options={"build": {"build_base": "build-pip"}},
)
