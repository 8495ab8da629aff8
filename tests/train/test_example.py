"""The training example and the package's benchmark still run: one generation of the
search, whose best episode the simulator replays to the score it printed, and a moment of
each benchmark; the README's commands for them where the first python3 on the PATH lacks
NumPy; what an import under such a python3 says, and which one the configure step names."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

from support import replay

SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BUILD = os.environ.get("SKARVOLT_BUILD", os.path.join(SOURCE, "build"))
DEBIAN_PYTHON = "/usr/bin/python3"


def without_numpy(folder):
    """A python3 in folder that cannot import NumPy, as pyenv's may be: Debian's without its
    site directories."""
    path = os.path.join(folder, "python3")
    with open(path, "w", encoding="ascii") as f:
        f.write(f'#!/bin/sh\nexec {DEBIAN_PYTHON} -S "$@"\n')
    os.chmod(path, 0o755)
    return path


def readme_section(title):
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        text = f.read()
    start = text.index(f"\n## {title}\n")
    end = text.find("\n## ", start + 1)
    return text[start:end]


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


class OtherPython(unittest.TestCase):
    """A python3 first on the PATH that lacks NumPy (pyenv's, say), beside Debian's."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name
        without_numpy(self.scratch)
        self.env = dict(os.environ, PATH=self.scratch + os.pathsep + os.environ["PATH"])

    def test_the_readme_commands_run(self):
        if os.path.realpath(sys.executable) != os.path.realpath(DEBIAN_PYTHON):
            self.skipTest(f"the package was built for {sys.executable}, not the README's python3")
        commands = re.findall(r"PYTHONPATH=build/python \S+ (?:examples|bench)/\S+\.py",
                              readme_section("Train an agent"))
        self.assertEqual(len(commands), 2, commands)
        short = {"train.py": f" --minutes 0 --population 8 --tunnels 1 --max-ticks 100 "
                             f"--out {self.scratch}/best-run.txt",
                 "python_bench.py": " 0.02"}
        for command in commands:
            with self.subTest(command=command):
                line = command.replace("build/", BUILD + "/", 1) + short[os.path.basename(command)]
                done = subprocess.run(line, shell=True, cwd=SOURCE, env=self.env,
                                      capture_output=True, text=True)
                self.assertEqual(done.returncode, 0, done.stderr)

    def test_an_import_without_numpy_names_the_python_built_for(self):
        # A link, so that the interpreter's own name is the link's.
        other = os.path.join(self.scratch, "other-python3")
        os.symlink(os.path.realpath(sys.executable), other)
        done = subprocess.run([other, "-S", "-c", "import skarvolt"], capture_output=True,
                              text=True, env=self.env)
        self.assertNotEqual(done.returncode, 0)
        last = done.stderr.strip().splitlines()[-1]
        self.assertIn(f"skarvolt needs NumPy, which this Python ({other}) cannot import", last)
        self.assertIn(f"it was built for {sys.executable}, which has it", last)

    def test_the_configure_step_names_the_python(self):
        # The choice made again in a script of its own, with the PATH's python3 the one
        # without NumPy: the next, Debian's, is taken, or the one the build is told.
        script = os.path.join(self.scratch, "find.cmake")
        with open(script, "w", encoding="ascii") as f:
            f.write(f"include({SOURCE}/cmake/python.cmake)\nskarvolt_find_numpy_python()\n")
        has_numpy = subprocess.run([DEBIAN_PYTHON, "-c", "import numpy"]).returncode == 0
        cases = [([], DEBIAN_PYTHON if has_numpy else None),
                 ([f"-DSKARVOLT_PYTHON3={sys.executable}"], sys.executable)]
        for options, chosen in cases:
            with self.subTest(options=options):
                done = subprocess.run([os.environ.get("SKARVOLT_CMAKE", "cmake"), *options, "-P", script],
                                      capture_output=True, text=True, env=self.env, check=True)
                lines = [l for l in done.stdout.splitlines() if "Python package skarvolt" in l]
                self.assertEqual(len(lines), 1, done.stdout)
                if chosen:
                    self.assertIn(f"-- The Python package skarvolt is for {chosen}, ", lines[0])
                else:
                    self.assertIn("skipped: python3 with NumPy is missing", lines[0])


if __name__ == "__main__":
    unittest.main()
