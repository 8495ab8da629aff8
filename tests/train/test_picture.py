"""The picture of render_mode "rgb_array" is the window's: the crash of seed 1 held from
the start against the desktop game's own screenshot of it (the README's), within the
tolerance that the browser's pictures keep to."""

import os
import subprocess
import unittest

import numpy as np

import skarvolt
from support import Case

SHOT = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "screenshots", "crash.png")


def read_png(path):
    """The RGB pixels of a PNG, through ImageMagick's convert."""
    size = subprocess.run(["convert", path, "-format", "%w %h", "info:"], capture_output=True,
                          text=True, check=True).stdout.split()
    rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                         check=True).stdout
    return np.frombuffer(rgb, np.uint8).reshape(int(size[1]), int(size[0]), 3)


@unittest.skipUnless(skarvolt.can_render(), "built without OSMesa (package libosmesa6-dev)")
class Picture(Case):
    def test_the_crash_of_seed_1_is_the_windows(self):
        env = self.make(skarvolt.Env, render_mode="rgb_array")
        env.reset(seed=1)
        while not env.step(1)[2]:
            pass
        picture = env.render()
        self.assertEqual((picture.shape, picture.dtype), ((300, 400, 3), np.uint8))
        shot = read_png(SHOT)
        close = (np.abs(picture.astype(int) - shot) <= 2).all(axis=2).mean()
        self.assertGreaterEqual(close, 0.99, f"only {close:.2%} of the pixels within 2/255")
        # Drawing changes nothing: the same picture again, burst and all.
        np.testing.assert_array_equal(env.render(), picture)

    def test_sizes_and_modes(self):
        env = self.make(skarvolt.VectorEnv, 2, render_mode="rgb_array", render_size=(64, 48))
        env.reset(seed=[1, 2])
        for _ in range(60):
            env.step([1, 0])
        small = env.render()
        self.assertEqual([p.shape for p in small], [(48, 64, 3)] * 2)
        self.assertFalse(np.array_equal(small[0], small[1]))
        self.assertIsNone(self.make(skarvolt.Env).render())


if __name__ == "__main__":
    unittest.main()
