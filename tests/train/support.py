"""What the training environment's tests share: the simulator, a steering bot and
random actions."""

import os
import subprocess
import unittest

import numpy as np

SIM = os.environ.get("SKARVOLT_SIM", "skarvolt-sim")


def replay(script):
    """The simulator's trace of script: a list of (score, height, speed) per tick, and the
    crash score or None."""
    done = subprocess.run([SIM], input=script, capture_output=True, text=True, check=True)
    ticks, crash = [], None
    for line in done.stdout.splitlines():
        words = line.split()
        if words[0] == "crash":
            crash = int(words[1])
        else:
            ticks.append((int(words[0]), np.float32(words[1]), np.float32(words[2])))
    return ticks, crash


def recording_header():
    """The lines that open every recording of the Python package: the game's header, with
    the version the simulator gives, and the comment that says a program flew it."""
    version = subprocess.run([SIM, "--version"], capture_output=True, text=True,
                             check=True).stdout.strip()
    return f"# {version} recording\n# agent: skarvolt python\n"


def steer(obs, rng, noise=0.05):
    """A bot that aims for the middle of the passage 8 columns ahead, or of the wider way
    past a block within 30 ticks, braking by its speed, with random presses mixed in: runs
    of hundreds to thousands of ticks through narrowing passages and blocks."""
    if rng.random() < noise:
        return int(rng.integers(2))
    ceiling, floor = obs[8], obs[9]
    target = (ceiling + floor) / 2
    if obs[3] < 0.6:
        below, above = obs[4] - floor, ceiling - obs[5]
        target = (obs[5] + ceiling) / 2 if above > below else (obs[4] + floor) / 2
    return int(target - obs[1] > 0)


class Case(unittest.TestCase):
    """Closes every environment a test makes."""

    def make(self, factory, *args, **kwargs):
        env = factory(*args, **kwargs)
        self.addCleanup(env.close)
        return env
