"""Build backend of the package: setuptools, taken from the system when pip's
isolated build environment hides it, so that `pip install ./python` works
offline with the system's setuptools and wheel (Debian: python3-setuptools,
python3-wheel) and downloads nothing."""
import os
import sys
import sysconfig

try:
    from setuptools import build_meta as _setuptools
except ImportError:
    for _folder in ("/usr/lib/python3/dist-packages", sysconfig.get_path("purelib")):
        if os.path.isdir(os.path.join(_folder, "setuptools")):
            sys.path.append(_folder)
            break
    from setuptools import build_meta as _setuptools


def get_requires_for_build_wheel(config_settings=None):
    return []  # setuptools and wheel are those of the system


def get_requires_for_build_sdist(config_settings=None):
    return []


prepare_metadata_for_build_wheel = _setuptools.prepare_metadata_for_build_wheel
build_wheel = _setuptools.build_wheel
build_sdist = _setuptools.build_sdist
