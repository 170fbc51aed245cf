"""BrindleCove: choose how best to run a local LLM on this machine."""

from brindlecove._brindlecove import *  # noqa: F401,F403
from brindlecove._brindlecove import __all__  # noqa: F401
