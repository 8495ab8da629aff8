"""The training example and the package's benchmark still run: one generation of the
search, whose best episode the simulator replays to the score it printed, and a moment of
each benchmark."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

from support import replay

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


class Example(unittest.TestCase):
    def test_one_generation_saves_a_replayable_best_episode(self):
        with tempfile.TemporaryDirectory() as scratch:
            out = os.path.join(scratch, "best-run.txt")
            done = subprocess.run(
                [sys.executable, os.path.join(SOURCE, "examples", "train.py"), "--minutes", "0",
                 "--population", "16", "--tunnels", "2", "--max-ticks", "400", "--out", out],
                capture_output=True, text=True, check=True)
            self.assertIn("generation   1", done.stdout)
            score = int(re.search(r"the best episode, score (\d+)", done.stdout).group(1))
            with open(out, encoding="ascii") as f:
                ticks, crash = replay(f.read())
            self.assertEqual(len(ticks), score)
            self.assertIn(crash, (score, None))  # None: the episode reached --max-ticks

    def test_the_benchmark_runs(self):
        done = subprocess.run([sys.executable, os.path.join(SOURCE, "bench", "python_bench.py"),
                               "0.05"], capture_output=True, text=True, check=True)
        self.assertEqual(len(re.findall(r"steps/s", done.stdout)), 3)


if __name__ == "__main__":
    unittest.main()
