"""A batch and threads: a pool that cannot start under a process limit, and one batch
called from two threads at once. Each case runs in a child process, so that an abort, a
crash or a hang is a failed test, not a lost test run; the child's time limit only bounds
a hang, it measures nothing."""

import os
import subprocess
import sys
import textwrap
import unittest

HANG = 120  # seconds: far beyond what any case takes


def run_child(code):
    try:
        return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                              text=True, timeout=HANG)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"the child hung for {HANG} s:\n{code}") from None


class Threads(unittest.TestCase):
    def expect(self, code, last_line):
        done = run_child(code)
        if done.returncode == 3:
            self.skipTest(done.stdout.strip())
        self.assertEqual(done.returncode, 0, f"status {done.returncode}; stderr:\n{done.stderr}")
        self.assertEqual(done.stdout.strip().splitlines()[-1], last_line, done.stdout)

    def test_a_pool_that_cannot_start_is_an_error_and_no_batch(self):
        # The limit counts every thread of the user; root is not held to it, so the child
        # becomes nobody (after loading the library) where it runs as root.
        self.expect("""
            import os, resource, sys
            import skarvolt

            if os.getuid() == 0:
                try:
                    os.setgroups([])
                    os.setgid(65534)
                    os.setuid(65534)
                except OSError as error:
                    print("cannot become an unprivileged user:", error)
                    sys.exit(3)

            def tasks(uid):
                count = 0
                for pid in filter(str.isdigit, os.listdir("/proc")):
                    try:
                        for tid in os.listdir(f"/proc/{pid}/task"):
                            with open(f"/proc/{pid}/task/{tid}/status") as status:
                                for line in status:
                                    if line.startswith("Uid:"):
                                        count += int(line.split()[1]) == uid
                    except OSError:
                        pass
                return count

            own = lambda: len(os.listdir("/proc/self/task"))
            soft, hard = resource.getrlimit(resource.RLIMIT_NPROC)
            before = own()
            # Room for two more threads: a pool of 64 starts two, then fails.
            resource.setrlimit(resource.RLIMIT_NPROC, (tasks(os.getuid()) + 2, hard))
            try:
                skarvolt.VectorEnv(100, num_threads=64)
                print("a batch was made")
                sys.exit(1)
            except skarvolt.SkarvoltError as error:
                print(error)
                assert "num_threads" in str(error), error
            resource.setrlimit(resource.RLIMIT_NPROC, (soft, hard))
            assert own() == before, f"{own() - before} threads of the failed pool are left"
            env = skarvolt.VectorEnv(100, num_threads=2)
            env.reset(seed=1)
            env.step([1] * 100)
            print("stepped after")
            """, "stepped after")

    def test_two_threads_step_one_batch(self):
        # Each step is whole: every game's recording replays to its score afterwards.
        self.expect("""
            import threading
            import numpy as np
            import skarvolt
            from support import replay

            for pool in (1, 2):
                env = skarvolt.VectorEnv(1024, num_threads=pool)
                env.reset(seed=1)
                steps = [0, 0]
                def fly(k):
                    rng = np.random.default_rng(k)
                    for _ in range(2000):
                        env.step(rng.integers(0, 2, 1024))
                        steps[k] += 1
                threads = [threading.Thread(target=fly, args=(k,)) for k in range(2)]
                for t in threads:
                    t.start()
                for t in threads:
                    t.join()
                assert steps == [2000, 2000], steps
                for i in range(0, 1024, 201):
                    seed, score, best = env._batch.episode(i)
                    ticks, crash = replay(env.recording(i))
                    assert len(ticks) == score, (i, len(ticks), score)
                env.close()
            print("both flew")
            """, "both flew")

    def test_close_while_another_thread_steps(self):
        self.expect("""
            import threading, time
            import skarvolt

            for round in range(8):
                env = skarvolt.VectorEnv(512, num_threads=2)
                env.reset(seed=round)
                said = []
                def fly():
                    try:
                        while True:
                            env.step([1, 0] * 256)
                    except RuntimeError as error:
                        said.append(str(error))
                stepper = threading.Thread(target=fly)
                stepper.start()
                time.sleep(0.01 * round)
                env.close()
                stepper.join()
                assert said and "closed" in said[0], said
            print("closed under way")
            """, "closed under way")


if __name__ == "__main__":
    unittest.main()
