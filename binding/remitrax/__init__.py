"""remitrax reads ASC X12 835 health-care payment files into segments, tables and diagnostics."""

from remitrax import _core
from remitrax._core import *  # noqa: F403

__all__ = list(_core.__all__)
