"""Skarvolt, the one-button tunnel game, as reinforcement-learning environments.

    import skarvolt
    env = skarvolt.Env()
    obs, info = env.reset(seed=1)
    obs, reward, terminated, truncated, info = env.step(1)

skarvolt.Env is one game and skarvolt.VectorEnv(num_envs) many, stepped together on a pool
of threads, both with the Gymnasium API; where gymnasium is installed they are its Env and
VectorEnv, and gymnasium.make("Skarvolt-v0") makes one. Env's docstring describes the
actions, rewards and every field of the observation.
"""

import sys

try:
    import numpy  # noqa: F401
except ImportError as _error:
    # Another python3 than the package's (pyenv's first on the PATH, say) may lack NumPy:
    # name the one the package was built for, which has it.
    try:
        from ._built import PYTHON as _BUILT_FOR
    except ImportError:  # the sources alone, not the built package
        _BUILT_FOR = ""
    if _BUILT_FOR and _BUILT_FOR != sys.executable:
        _advice = f"; it was built for {_BUILT_FOR}, which has it: run that one instead"
    else:
        _advice = " (Debian's package python3-numpy)"
    raise ImportError(f"skarvolt needs NumPy, which this Python ({sys.executable}) cannot "
                      f"import: {_error}{_advice}") from None

from ._native import OBS_SIZE, SkarvoltError, can_render  # noqa: E402
from .env import Env, VectorEnv  # noqa: E402
from .spaces import HAVE_GYMNASIUM  # noqa: E402

__all__ = ["Env", "VectorEnv", "SkarvoltError", "OBS_SIZE", "can_render"]

if HAVE_GYMNASIUM:
    import gymnasium

    if "Skarvolt-v0" not in gymnasium.registry:
        gymnasium.register(id="Skarvolt-v0", entry_point="skarvolt.env:Env",
                           vector_entry_point="skarvolt.env:VectorEnv")
