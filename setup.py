"""The kelvara Python package for pip: "python3 -m pip install . --no-build-isolation".

The extension is made by the project's CMake build (python/CMakeLists.txt, the target _kelvara)
for the interpreter that runs pip, in a folder of setuptools' build area, or in the build folder
named by KELVARA_CMAKE_BUILD_DIR (one configured for the same interpreter; nothing is configured
then, only _kelvara brought up to date). It needs what the CMake build of the module needs: a C++
compiler, CMake, Python's development files, pybind11 and numpy.
"""
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
VERSION = re.search(r"project\(kelvara VERSION ([0-9.]+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("KELVARA_CMAKE_BUILD_DIR")
        if not build:
            build = str(Path(self.build_temp).resolve() / "cmake")
            subprocess.check_call(["cmake", "-S", str(ROOT), "-B", build,
                                   "-DCMAKE_BUILD_TYPE=Release", "-DKELVARA_BUILD_TESTS=OFF",
                                   "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "_kelvara",
                               "-j", str(os.cpu_count() or 1)])
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        built = Path(build) / "python" / "kelvara" / ("_kelvara" + suffix)
        if not built.exists():
            raise RuntimeError(f"the CMake build made no {built}: is it for {sys.executable}?")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# setuptools' own records (kelvara.egg-info) in its build area, not among the sources.
(ROOT / "build" / "pip").mkdir(parents=True, exist_ok=True)

setup(
    name="kelvara",
    version=VERSION,
    description="Read and write binary mesh datasets (.dat) as numpy arrays and run kelvara "
                "operations in Python",
    packages=["kelvara"],
    package_dir={"": "python"},
    ext_modules=[Extension("kelvara._kelvara", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.7",
    zip_safe=False,
    options={"egg_info": {"egg_base": str(Path("build") / "pip")}},
)
