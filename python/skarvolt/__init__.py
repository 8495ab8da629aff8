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

from ._native import OBS_SIZE, SkarvoltError, can_render
from .env import Env, VectorEnv
from .spaces import HAVE_GYMNASIUM

__all__ = ["Env", "VectorEnv", "SkarvoltError", "OBS_SIZE", "can_render"]

if HAVE_GYMNASIUM:
    import gymnasium

    if "Skarvolt-v0" not in gymnasium.registry:
        gymnasium.register(id="Skarvolt-v0", entry_point="skarvolt.env:Env",
                           vector_entry_point="skarvolt.env:VectorEnv")
