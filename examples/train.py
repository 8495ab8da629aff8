#!/usr/bin/python3
"""Teaches an agent to fly Skarvolt, with NumPy alone: a cross-entropy search over a small
neural network (the observation, 8 tanh units, one output: hold while it is positive).

Each generation flies every candidate network through the same fresh tunnels, all of them
side by side in one VectorEnv, and moves the search's mean and spread towards the best
eighth. Every few generations the mean network flies 100 tunnels it has never seen; the
search stops once the median score there reaches the goal, and keeps the best episode it
saw as a script that `skarvolt --play` shows and `skarvolt-sim` replays.

    PYTHONPATH=build/python /usr/bin/python3 examples/train.py [--goal 1000] [--out best-run.txt]
"""

import argparse
import time

import numpy as np

import skarvolt

HIDDEN = 8
SIZE = skarvolt.OBS_SIZE
SHAPES = [(SIZE, HIDDEN), (HIDDEN,), (HIDDEN,), ()]
PARAMS = sum(int(np.prod(s)) for s in SHAPES)
TEST_SEEDS = 100


def unpack(theta):
    """The layers of a batch of flat parameter vectors, theta of shape (P, PARAMS)."""
    layers, at = [], 0
    for shape in SHAPES:
        n = int(np.prod(shape))
        layers.append(theta[:, at:at + n].reshape((len(theta),) + shape))
        at += n
    return layers


def fly(theta, seeds, max_ticks, keep_best=False):
    """Scores of each network in theta (P, PARAMS) on each seed: an array (P, len(seeds)).
    With keep_best, also the script of the best episode."""
    p, s = len(theta), len(seeds)
    env = skarvolt.VectorEnv(p * s, max_episode_ticks=max_ticks)
    w1, b1, w2, b2 = unpack(theta)
    obs, _ = env.reset(seed=[int(x) for x in np.tile(seeds, p)])
    scores = np.zeros(p * s)
    running = np.ones(p * s, dtype=bool)
    best, best_script = -1.0, None
    while running.any():
        hidden = np.tanh(np.matmul(obs.reshape(p, s, SIZE), w1) + b1[:, None, :])
        out = np.einsum("psh,ph->ps", hidden, w2) + b2[:, None]
        obs, rewards, terminated, truncated, _ = env.step((out.reshape(-1) > 0).astype(np.uint8))
        scores += rewards * running
        ended = running & (terminated | truncated)
        if keep_best and ended.any():
            i = int(np.flatnonzero(ended)[np.argmax(scores[ended])])
            if scores[i] > best:
                best, best_script = scores[i], env.recording(i)
        running &= ~ended
    env.close()
    return scores.reshape(p, s), best_script


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--goal", type=float, default=1000, help="median score to reach")
    parser.add_argument("--population", type=int, default=64)
    parser.add_argument("--tunnels", type=int, default=8, help="tunnels per generation")
    parser.add_argument("--max-ticks", type=int, default=3000,
                        help="longest episode while searching")
    parser.add_argument("--minutes", type=float, default=5.0, help="time limit")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", default="best-run.txt", help="the best episode's script")
    args = parser.parse_args()

    rng = np.random.default_rng(args.seed)
    # The tunnels it is tested in lie apart from the ones it learns in.
    test_seeds = rng.integers(2**31, 2**32, TEST_SEEDS)
    mean = np.zeros(PARAMS)
    spread = np.full(PARAMS, 0.5)
    elite = args.population // 8
    start = time.monotonic()
    best_score, best_script = -1.0, None
    for generation in range(1, 10**6):
        seeds = rng.integers(0, 2**31, args.tunnels)
        theta = mean + spread * rng.standard_normal((args.population, PARAMS))
        scores, script = fly(theta, seeds, args.max_ticks, keep_best=True)
        fitness = scores.mean(axis=1)
        chosen = theta[np.argsort(fitness)[-elite:]]
        # A little extra spread keeps the search from settling too soon.
        mean, spread = chosen.mean(axis=0), chosen.std(axis=0) + 0.02
        if scores.max() > best_score:
            best_score, best_script = scores.max(), script
        line = (f"generation {generation:3d}  {time.monotonic() - start:5.0f} s  "
                f"best {fitness.max():7.0f}  elite mean {np.sort(fitness)[-elite:].mean():7.0f}")
        if generation % 5 == 0:
            test, script = fly(mean[None, :], test_seeds, 50000, keep_best=True)
            median = float(np.median(test))
            if test.max() > best_score:
                best_score, best_script = test.max(), script
            line += f"  median of {TEST_SEEDS} new tunnels {median:7.0f}"
            if median >= args.goal:
                print(line)
                break
        print(line, flush=True)
        if time.monotonic() - start > args.minutes * 60:
            print(f"time is up after {args.minutes} minutes without the goal")
            break
    with open(args.out, "w", encoding="ascii") as out:
        out.write(best_script)
    print(f"{time.monotonic() - start:.0f} s; the best episode, score {best_score:.0f}, is in "
          f"{args.out}: skarvolt-sim {args.out} replays it, skarvolt --play {args.out} shows it")


if __name__ == "__main__":
    main()
