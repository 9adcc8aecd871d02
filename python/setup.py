"""Builds the package as a wheel for one platform and any Python 3: it carries a C library, no extension module.

scripts/wheel runs this on a copy of the folder that holds the library and a
VERSION file; QX480_WHEEL_PLATFORM names the platform tag (win_amd64) when
the library is not for this machine.
"""

import os

from setuptools import Distribution, setup
from wheel.bdist_wheel import bdist_wheel


class LibraryDistribution(Distribution):
    """A distribution whose files belong to one platform, as an extension module's do."""

    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):
    """A py3-none-PLATFORM wheel."""

    def get_tag(self) -> tuple[str, str, str]:
        platform = os.environ.get("QX480_WHEEL_PLATFORM") or super().get_tag()[2]
        return "py3", "none", platform


setup(distclass=LibraryDistribution, cmdclass={"bdist_wheel": PlatformWheel})
