"""The Gymnasium API: seeding, next-step autoreset, the environment checker's rules, and
bad input turned into clear exceptions, never a crash."""

import copy
import ctypes
import gc
import pickle
import sys
import unittest

import numpy as np

import skarvolt
from skarvolt.spaces import HAVE_GYMNASIUM
from support import Case, recording_header, replay


def trajectory(env, seed, actions):
    out = [env.reset(seed=seed)[0]]
    for a in actions:
        out.append(env.step(a))
    return out


def same(a, b):
    """Deep equality of observations, step tuples and their arrays."""
    if isinstance(a, (tuple, list)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and np.array_equal(a, b)
    return a == b


class Seeding(Case):
    def test_unseeded_episodes_follow_from_the_last_seed(self):
        # After reset(seed=s) every later episode, autoreset or reset(), has a seed of its
        # own that follows from s alone.
        runs = []
        for _ in range(2):
            env = self.make(skarvolt.Env)
            env.reset(seed=9)
            seeds = []
            for _ in range(3):
                while not env.step(1)[2]:
                    pass
                seeds.append(env.reset()[1]["seed"])
            runs.append(seeds)
        self.assertEqual(runs[0], runs[1])
        self.assertEqual(len(set(runs[0]) | {9}), 4)

    def test_never_seeded_environments_differ(self):
        a, b = self.make(skarvolt.Env), self.make(skarvolt.Env)
        self.assertNotEqual(a.reset()[1]["seed"], b.reset()[1]["seed"])

    def test_next_step_autoreset(self):
        env = self.make(skarvolt.VectorEnv, 3)
        env.reset(seed=[5, 6, 7])
        # Held from the start, every game leaves the top of the window on tick 45.
        for tick in range(1, 46):
            obs, rewards, terminated, truncated, _ = env.step(np.ones(3, dtype=np.int64))
            np.testing.assert_array_equal(rewards, 1.0)
            self.assertEqual(list(terminated), [tick == 45] * 3)
            self.assertFalse(truncated.any())
        recordings = [env.recording(i) for i in range(3)]
        for text in recordings:
            self.assertEqual(replay(text)[1], 45)
        # The step after the crash starts the next episode, whatever the action.
        obs, rewards, terminated, truncated, _ = env.step(np.array([0, 1, 0]))
        np.testing.assert_array_equal(rewards, 0.0)
        self.assertFalse(terminated.any() or truncated.any())
        for i in range(3):
            seed = env.episode_seed(i)
            self.assertEqual(env.recording(i), f"{recording_header()}seed {seed}\npress\n")
            fresh = self.make(skarvolt.Env)
            np.testing.assert_array_equal(fresh.reset(seed=seed)[0], obs[i])

    def test_a_vector_seed_counts_up_from_the_first_game(self):
        env = self.make(skarvolt.VectorEnv, 4)
        env.reset(seed=100)
        self.assertEqual([env.episode_seed(i) for i in range(4)], [100, 101, 102, 103])
        env.reset(seed=[1, None, 3, None])
        self.assertEqual([env.episode_seed(i) for i in (0, 2)], [1, 3])


class Conformance(Case):
    """The rules of Gymnasium's environment checker, kept here since gymnasium itself may
    not be installed."""

    def test_env(self):
        env = self.make(skarvolt.Env, frame_skip=2, max_episode_ticks=30)
        for space in (env.action_space, env.observation_space):
            x = space.sample()
            self.assertTrue(space.contains(x), f"{space} holds its own sample")
        self.assertEqual((env.action_space.n, env.observation_space.shape),
                         (2, (skarvolt.OBS_SIZE,)))
        self.assertEqual(env.observation_space.dtype, np.float32)
        self.assertIn("render_modes", env.metadata)
        self.assertIn("render_fps", env.metadata)
        rng = np.random.default_rng(1)
        actions = rng.integers(0, 2, 25).tolist()
        first = trajectory(env, 42, actions[:14])
        self.assertTrue(same(first, trajectory(env, 42, actions[:14])),
                        "a seeded reset and the same actions give the same steps")
        obs, info = env.reset(seed=42)
        self.assertIsInstance(info, dict)
        ended = False
        for a in actions:
            self.assertTrue(env.observation_space.contains(obs))
            obs, reward, terminated, truncated, info = env.step(a)
            self.assertEqual(obs.dtype, np.float32)
            self.assertTrue(all(type(v) is t for v, t in
                                ((reward, float), (terminated, bool), (truncated, bool), (info, dict))))
            self.assertFalse(terminated and truncated, "one cause never sets both")
            if terminated or truncated:
                ended = True
                break
        self.assertTrue(ended)
        # The returned observation is the caller's: the next step does not change it.
        obs, _ = env.reset(seed=1)
        kept = obs.copy()
        env.step(1)
        np.testing.assert_array_equal(obs, kept)
        env.close()
        env.close()

    def test_vector_env(self):
        env = self.make(skarvolt.VectorEnv, 6, max_episode_ticks=40)
        self.assertEqual(env.observation_space.shape, (6, skarvolt.OBS_SIZE))
        self.assertEqual(env.action_space.shape, (6,))
        self.assertEqual(env.single_action_space.n, 2)
        obs, info = env.reset(seed=3)
        self.assertTrue(env.observation_space.contains(obs))
        for _ in range(60):
            obs, rewards, terminated, truncated, info = env.step(env.action_space.sample())
            self.assertTrue(env.observation_space.contains(obs))
            self.assertEqual((rewards.dtype, terminated.dtype, truncated.dtype),
                             (np.float32, np.bool_, np.bool_))
            self.assertFalse((terminated & truncated).any())

    def test_the_window_and_the_tick_are_the_librarys(self):
        # The game's constants, read from the library, not written again in the package:
        # the README names them, 400 by 300 pixels and 12 ms.
        from skarvolt._native import _lib
        self.assertEqual((_lib.skv_window_width(), _lib.skv_window_height(), _lib.skv_tick_ms()),
                         (400, 300, 12))
        env = self.make(skarvolt.Env)
        self.assertEqual(env.render_size, (400, 300))
        self.assertEqual(env.metadata["render_fps"], 1000 / 12)

    @unittest.skipUnless(HAVE_GYMNASIUM, "gymnasium is not installed")
    def test_gymnasium_checker_and_registration(self):
        import gymnasium
        from gymnasium.utils.env_checker import check_env
        check_env(skarvolt.Env(), skip_render_check=not skarvolt.can_render())
        gymnasium.make("Skarvolt-v0").close()


class BadInput(Case):
    def test_env_input(self):
        env = self.make(skarvolt.Env)
        cases = [
            (lambda: env.step(1), RuntimeError, "reset"),
            (lambda: env.reset(seed=-1), ValueError, "outside"),
            (lambda: env.reset(seed=2**32), ValueError, "outside"),
            (lambda: env.reset(seed=1.5), TypeError, "whole number"),
            (lambda: env.reset(seed="1"), TypeError, "whole number"),
        ]
        self.check(cases)
        env.reset(seed=1)
        self.check([
            (lambda: env.step(2), ValueError, "not in Discrete"),
            (lambda: env.step(-1), ValueError, "not in Discrete"),
            (lambda: env.step(0.5), ValueError, "not in Discrete"),
            (lambda: env.step(np.array([1, 0])), ValueError, "not in Discrete"),
            (lambda: env.step(None), ValueError, "not in Discrete"),
        ])
        env.step(np.int8(1))
        env.step(True)
        env.close()
        unrecorded = self.make(skarvolt.Env, record=False)
        unrecorded.reset(seed=1)
        self.check([(unrecorded.recording, RuntimeError, "record=False")])
        self.check([(lambda: env.step(1), RuntimeError, "closed"),
                    (lambda: env.reset(), RuntimeError, "closed"),
                    (lambda: env.recording(), RuntimeError, "closed")])

    def test_vector_input(self):
        env = self.make(skarvolt.VectorEnv, 4)
        self.check([(lambda: env.step([0, 0, 0, 0]), RuntimeError, "reset")])
        env.reset(seed=1)
        self.check([
            (lambda: env.step([1, 0, 1]), ValueError, "shape"),
            (lambda: env.step(np.zeros((4, 1), dtype=np.int64)), ValueError, "shape"),
            (lambda: env.step([1, 0, 2, 0]), ValueError, "action 2 of game 2"),
            (lambda: env.step(np.array([0, 0, 0, 256])), ValueError, "game 3"),
            (lambda: env.step(np.array([0, 0, 0, 7], dtype=np.uint8)), ValueError, "game 3"),
            (lambda: env.step(np.array([0, -1, 0, 0], dtype=np.int8)), ValueError, "game 1"),
            (lambda: env.step(np.zeros(4, dtype=np.float32)), TypeError, "dtype"),
            (lambda: env.reset(seed=2**32 - 2), ValueError, "beyond"),
            (lambda: env.reset(seed=[1, 2]), ValueError, "2 seeds for 4"),
            (lambda: env.reset(seed=[1, 2, 3, 2**40]), ValueError, "outside"),
            (lambda: env.recording(4), ValueError, "not one of"),
        ])
        # Nothing above changed a game: they step on from where they were.
        env.step(np.array([True, False, True, False]))

    def test_construction(self):
        self.check([
            (lambda: skarvolt.VectorEnv(0), ValueError, "num_envs"),
            (lambda: skarvolt.VectorEnv(2, num_threads=-1), ValueError, "num_threads"),
            # Not cut to 2 on its way to the library's int.
            (lambda: skarvolt.VectorEnv(1000, num_threads=2**32 + 2), ValueError,
             r"num_threads must be 0 \(one per core\) to 256"),
            (lambda: skarvolt.Env(frame_skip=0), ValueError, "frame_skip"),
            (lambda: skarvolt.Env(frame_skip=1.0), TypeError, "frame_skip"),
            (lambda: skarvolt.Env(max_episode_ticks=0), ValueError, "max_episode_ticks"),
            (lambda: skarvolt.Env(repeat_action_probability=1.5), ValueError, "outside"),
            (lambda: skarvolt.Env(render_mode="human"), ValueError, "render_mode"),
            (lambda: skarvolt.Env(render_size=(0, 10)), ValueError, "render_size"),
            (lambda: skarvolt.Env(render_size=(1.5, 2)), TypeError, "whole pixels"),
            (lambda: skarvolt.Env(render_size=(4, 3, 2)), TypeError, "whole pixels"),
            (lambda: skarvolt.Env(render_size=400), TypeError, "whole pixels"),
            # Not "at least 1", as its low 32 bits would say in the library.
            (lambda: skarvolt.VectorEnv(2**31), ValueError, "2147483648 is too many"),
        ])

    def test_an_environment_is_not_copied(self):
        # Its games live in the C library: a copy would share them, and pickle cannot reach
        # them. The message says how to make an equal one; nothing is left half made.
        unraised = []
        self.addCleanup(setattr, sys, "unraisablehook", sys.unraisablehook)
        sys.unraisablehook = unraised.append
        envs = [(self.make(skarvolt.Env), "skarvolt.Env()"),
                (self.make(skarvolt.VectorEnv, 3, frame_skip=2), "skarvolt.VectorEnv(3, frame_skip=2)")]
        for env, made in envs:
            for how in (pickle.dumps, copy.copy, copy.deepcopy):
                with self.subTest(made=made, how=how.__name__):
                    with self.assertRaisesRegex(TypeError, "cannot be pickled or copied") as caught:
                        how(env)
                    self.assertIn(f"Make an equal one with {made} and reset(seed=...)",
                                  str(caught.exception))
        gc.collect()
        self.assertEqual(unraised, [])

    def test_the_c_library_refuses_what_it_cannot_use(self):
        # Other languages call the C library straight: a missing handle or array, or a
        # configuration it cannot run, is an error code and a message, never a crash.
        from skarvolt._native import _lib
        batch = self.make(skarvolt.VectorEnv, 2)._batch
        h = batch._handle
        calls = [
            (lambda: _lib.skv_create(2, 0, 1, 0, 0.0, 1, None), "nowhere"),
            (lambda: _lib.skv_create(2, 0, 1, 0, float("nan"), 1, ctypes.byref(ctypes.c_void_p())),
             "repeat_action_probability"),
            (lambda: _lib.skv_create(2, 0, 1, -5, 0.0, 1, ctypes.byref(ctypes.c_void_p())),
             "max_episode_ticks"),
            (lambda: _lib.skv_create(2, 257, 1, 0, 0.0, 1, ctypes.byref(ctypes.c_void_p())),
             "0 (one per core) to 256"),
            (lambda: _lib.skv_reset(None, batch.seeds.ctypes.data, batch.obs.ctypes.data), "no batch"),
            (lambda: _lib.skv_reset(h, None, batch.obs.ctypes.data), "no batch"),
            (lambda: _lib.skv_step(h, batch.actions.ctypes.data, None, None, None, None), "no batch"),
            (lambda: _lib.skv_recording(h, -1, None, 0, ctypes.byref(ctypes.c_size_t())), "game -1"),
            (lambda: _lib.skv_recording(h, 0, None, 5, ctypes.byref(ctypes.c_size_t())), "nowhere"),
            (lambda: _lib.skv_episode(h, 2, None, None, None), "game 2"),
            (lambda: _lib.skv_render(h, 0, 0, 10, batch.obs.ctypes.data), "cannot be drawn"),
            (lambda: _lib.skv_render(h, 0, 10, 10, None), "nowhere to put the picture"),
            (lambda: _lib.skv_set_agent(h, b""), "1 to 64 printable"),
            (lambda: _lib.skv_set_agent(h, b"a\nseed 1"), "1 to 64 printable"),
            (lambda: _lib.skv_set_agent(h, b"x" * 65), "1 to 64 printable"),
        ]
        for call, words in calls:
            with self.subTest(words=words):
                self.assertEqual(call(), 1)
                self.assertIn(words, _lib.skv_last_error().decode())
        batch.seeds[:] = [-2, 0]
        self.assertEqual(_lib.skv_reset(h, batch.seeds.ctypes.data, batch.obs.ctypes.data), 1)
        self.assertIn("seed -2 of game 0", _lib.skv_last_error().decode())
        # A closed batch keeps its handle until it is destroyed: every call on it says so.
        _lib.skv_close(h)
        _lib.skv_close(h)
        for call in (lambda: _lib.skv_reset(h, batch.seeds.ctypes.data, batch.obs.ctypes.data),
                     lambda: batch._step(*batch._step_args),
                     lambda: _lib.skv_recording(h, 0, None, 0, ctypes.byref(ctypes.c_size_t()))):
            self.assertEqual(call(), 6)
            self.assertIn("closed", _lib.skv_last_error().decode())
        self.assertEqual(_lib.skv_num_threads(h), 0)

    def check(self, cases):
        for call, error, words in cases:
            with self.subTest(error=error, words=words):
                with self.assertRaisesRegex(error, words):
                    call()


if __name__ == "__main__":
    unittest.main()
