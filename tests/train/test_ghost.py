"""Racing a ghost from Python: the ghost's two fields, flown in lock-step with the ship."""

import unittest

import numpy as np

import skarvolt


def fly(env, actions):
    """Steps the actions until the crash; the observations, the first one included."""
    obs, _ = env.reset(seed=7)
    seen = [obs]
    for action in actions:
        obs, _, terminated, truncated, _ = env.step(action)
        seen.append(obs)
        if terminated or truncated:
            break
    return np.array(seen)


class GhostTest(unittest.TestCase):
    def setUp(self):
        rng = np.random.default_rng(3)
        self.actions = [int(a) for a in rng.integers(0, 2, 5000)]
        plain = skarvolt.Env()
        self.plain = fly(plain, self.actions)
        self.text = plain.recording()
        plain.close()

    def test_own_run_flies_with_the_ship(self):
        env = skarvolt.Env(ghost=self.text)
        seen = fly(env, self.actions)
        env.close()
        n = skarvolt.OBS_SIZE
        self.assertEqual(seen.shape[1], n + 2)
        np.testing.assert_array_equal(seen[:, :n], self.plain)  # the race changes nothing else
        np.testing.assert_array_equal(seen[:, n], seen[:, 0])   # the ghost on the ship
        self.assertTrue((seen[:-1, n + 1] == 1).all())
        self.assertEqual(seen[-1, n + 1], 0)                    # both crash together

    def test_other_actions_part(self):
        env = skarvolt.Env(ghost=self.text)
        other = [1 - a for a in self.actions]
        obs, _ = env.reset()
        self.assertEqual(env.episode_seed(), 7)  # the ghost's seed, whatever the reset asks
        seen = fly(env, other)
        env.close()
        n = skarvolt.OBS_SIZE
        self.assertTrue((seen[1:, n] != seen[1:, 0]).any())

    def test_without_a_ghost_unchanged(self):
        env = skarvolt.Env()
        self.assertEqual(env.observation_space.shape, (skarvolt.OBS_SIZE,))
        np.testing.assert_array_equal(fly(env, self.actions), self.plain)
        env.close()

    def test_every_game_of_a_vector_races_its_own_ghost(self):
        # Game 0 holds the recorded actions, game 1 their opposite: each ghost stays on the
        # ship in the first and parts from it in the second, and the spaces have both fields.
        envs = skarvolt.VectorEnv(2, num_threads=2, ghost=self.text)
        n = skarvolt.OBS_SIZE
        self.assertEqual(envs.single_observation_space.shape, (n + 2,))
        self.assertEqual(envs.observation_space.shape, (2, n + 2))
        obs, _ = envs.reset(seed=100)
        seen = [obs]
        for action in self.actions[:len(self.plain) - 1]:
            obs, _, terminated, _, _ = envs.step(np.array([action, 1 - action]))
            seen.append(obs)
        envs.close()
        seen = np.array(seen)
        np.testing.assert_array_equal(seen[:, 0, :n], self.plain)  # the ghost's seed, not 100
        np.testing.assert_array_equal(seen[:, 0, n], seen[:, 0, 0])
        self.assertTrue(terminated[0])
        self.assertTrue((seen[1:, 1, n] != seen[1:, 1, 0]).any())

    def test_a_copy_is_refused_without_writing_out_the_recording(self):
        import copy
        env = skarvolt.Env(ghost=self.text, frame_skip=2)
        with self.assertRaises(TypeError) as refused:
            copy.copy(env)
        env.close()
        said = str(refused.exception)
        self.assertIn("skarvolt.Env(frame_skip=2, ghost=<the same recording>)", said)
        self.assertLess(len(said), 400)

    def test_bad_text_refused(self):
        for text in ["", "hello\n", "seed 7\npress\ntick 3\n"]:
            with self.subTest(text=text), self.assertRaises(ValueError):
                skarvolt.Env(ghost=text)


if __name__ == "__main__":
    unittest.main()
