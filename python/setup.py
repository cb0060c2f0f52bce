"""Builds the compiled core with CMake (this folder's CMakeLists.txt, on its
own) against an installed KivPlcDb: CMAKE_PREFIX_PATH names the install when
it is not in a standard place.  The core links the installed library."""
import os
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = os.path.abspath(os.path.dirname(self.get_ext_fullpath(ext.name)))
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        source = os.path.dirname(os.path.abspath(__file__))
        subprocess.check_call(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                               f"-DPython3_EXECUTABLE={sys.executable}"])
        subprocess.check_call(["cmake", "--build", build, "--target", "_kivplc", "-j", str(os.cpu_count() or 1)])
        built = os.path.join(build, "kivplc", os.path.basename(self.get_ext_fullpath(ext.name)))
        os.makedirs(target, exist_ok=True)  # the core is built into <build>/kivplc, as in the project's build
        self.copy_file(built, self.get_ext_fullpath(ext.name))


setup(ext_modules=[Extension("kivplc._kivplc", sources=[])], cmdclass={"build_ext": CMakeBuild})
