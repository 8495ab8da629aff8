"""Every episode is the game's: env.recording() replayed by the simulator flies the same
ticks to the same crash, and the batch's games fly alike whatever their batch."""

import unittest

import numpy as np

import skarvolt
from support import Case, recording_header, replay, steer


class Exactness(Case):
    def play(self, env, seed, rng, policy, max_steps=20000):
        """One episode; the heights and speeds after each step, its return and end."""
        obs, info = env.reset(seed=seed)
        self.assertEqual(info["seed"], seed)
        heights, speeds, total = [], [], 0.0
        for _ in range(max_steps):
            obs, reward, terminated, truncated, _ = env.step(policy(obs, rng))
            heights.append(obs[0])
            speeds.append(obs[1] / 20)
            total += reward
            if terminated or truncated:
                return heights, speeds, total, terminated, truncated
        self.fail(f"seed {seed}: no end after {max_steps} steps")

    def check_replay(self, env, seed, rng, policy, frame_skip):
        heights, speeds, total, terminated, truncated = self.play(env, seed, rng, policy)
        ticks, crash = replay(env.recording())
        self.assertEqual(len(ticks), total, f"seed {seed}: one reward per tick")
        self.assertEqual(crash, int(total) if terminated else None, f"seed {seed}")
        # The state after each step is the simulator's after that step's last tick.
        last = [ticks[min(frame_skip * (i + 1), len(ticks)) - 1] for i in range(len(heights))]
        self.assertEqual([t[1] for t in last], heights, f"seed {seed}: heights")
        np.testing.assert_allclose([t[2] for t in last], speeds, rtol=1e-6, err_msg=f"seed {seed}")
        return total

    def test_random_and_steered_episodes_replay_to_the_same_ticks(self):
        rng = np.random.default_rng(7)
        random_policy = lambda obs, rng: int(rng.integers(2))  # noqa: E731
        for frame_skip in (1, 3):
            env = self.make(skarvolt.Env, frame_skip=frame_skip)
            for seed in [0, 1, 2, 4294967295] + [int(s) for s in rng.integers(0, 2**32, 24)]:
                self.check_replay(env, seed, rng, random_policy, frame_skip)
            longest = max(self.check_replay(env, seed, rng, steer, frame_skip)
                          for seed in range(100, 108))
        # The steered runs fly past blocks and narrowing passages.
        self.assertGreater(longest, 500)

    def test_truncated_and_sticky_episodes_replay_alike(self):
        rng = np.random.default_rng(3)
        env = self.make(skarvolt.Env, max_episode_ticks=200, frame_skip=3,
                        repeat_action_probability=0.5)
        ends = set()
        for seed in range(20):
            _, _, total, terminated, truncated = self.play(env, seed, rng, steer)
            self.assertFalse(terminated and truncated)
            self.assertLessEqual(total, 200)
            self.assertEqual(truncated, total == 200 and not terminated)
            ticks, crash = replay(env.recording())
            self.assertEqual((len(ticks), crash), (total, int(total) if terminated else None))
            ends.add((terminated, truncated))
        self.assertEqual(ends, {(True, False), (False, True)})

    def test_the_recording_is_the_steps_script(self):
        # A recording of the game's, which a leaderboard files as a program's: the header,
        # the agent's comment, then one press or release and one tick line a step; the step
        # that reaches the limit runs only the ticks left.
        env = self.make(skarvolt.Env, frame_skip=3, max_episode_ticks=10)
        env.reset(seed=4)
        for action in (1, 1, 0, 1):
            env.step(action)
        self.assertEqual(env.recording(), recording_header() + "seed 4\npress\npress\ntick 3\n"
                         "press\ntick 3\nrelease\ntick 3\npress\ntick 1\n")

    def test_the_tunnel_does_not_depend_on_sticky_actions(self):
        # Held throughout, the button is the same whatever the sticky draws: the tunnel is
        # the seed's alone.
        plain = self.make(skarvolt.Env)
        sticky = self.make(skarvolt.Env, repeat_action_probability=0.9)
        for env in (plain, sticky):
            env.reset(seed=11)
        for _ in range(40):
            a = plain.step(1)
            b = sticky.step(1)
            np.testing.assert_array_equal(a[0], b[0])

    def test_batches_of_any_size_and_threads_fly_alike(self):
        # Game i of either batch is seeded 50 + i and given the same actions; episodes end
        # and restart on their own (next-step autoreset) many times over.
        big = self.make(skarvolt.VectorEnv, 9, num_threads=1)
        small = self.make(skarvolt.VectorEnv, 5, num_threads=2, frame_skip=1)
        many = self.make(skarvolt.VectorEnv, 64, num_threads=0)
        rng = np.random.default_rng(5)
        big_obs, _ = big.reset(seed=50)
        small_obs, _ = small.reset(seed=50)
        many_obs, _ = many.reset(seed=list(range(50, 114)))
        np.testing.assert_array_equal(big_obs[:5], small_obs)
        np.testing.assert_array_equal(many_obs[:9], big_obs)
        ends = 0
        for _ in range(600):
            actions = rng.integers(0, 2, 64)
            a = big.step(actions[:9])
            b = small.step(actions[:5])
            c = many.step(actions)
            for x, y, z in zip(a[:4], b[:4], c[:4]):
                np.testing.assert_array_equal(x[:5], y)
                np.testing.assert_array_equal(z[:9], x)
            ends += int(a[2].sum())
        self.assertGreater(ends, 20)


if __name__ == "__main__":
    unittest.main()
