#!/usr/bin/python3
"""Agent steps a second of the Python package: frame_skip 1, random actions, episodes
resetting as they end (next-step autoreset in the batch, reset() after each end for the
single Env). A step is one tick of one game and its 22-float observation, not a picture.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [SECONDS]
"""

import os
import sys
import time

import numpy as np

import skarvolt


def batch(num_envs, num_threads, seconds):
    env = skarvolt.VectorEnv(num_envs, num_threads=num_threads)
    env.reset(seed=1)
    rng = np.random.default_rng(1)
    # Random actions drawn ahead, so that drawing them is not what is measured.
    actions = rng.integers(0, 2, (64, num_envs), dtype=np.uint8)
    steps, turn, start = 0, 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        for _ in range(50):
            env.step(actions[turn])
            turn = (turn + 1) % len(actions)
        steps += 50 * num_envs
    rate = steps / (time.perf_counter() - start)
    env.close()
    return rate


def single(seconds):
    env = skarvolt.Env()
    env.reset(seed=1)
    actions = np.random.default_rng(1).integers(0, 2, 4096).tolist()
    steps, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        for a in actions:
            if env.step(a)[2]:
                env.reset()
        steps += len(actions)
    rate = steps / (time.perf_counter() - start)
    env.close()
    return rate


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 3.0
    cores = len(os.sched_getaffinity(0))
    one = batch(1024, 1, seconds)
    print(f"VectorEnv(1024), 1 thread:   {one / 1e6:6.2f} M steps/s")
    many = batch(1024, cores, seconds)
    print(f"VectorEnv(1024), {cores} threads:  {many / 1e6:6.2f} M steps/s "
          f"({many / one:.2f} times one thread)")
    print(f"Env:                         {single(seconds) / 1e3:6.0f} k steps/s")


if __name__ == "__main__":
    main()
