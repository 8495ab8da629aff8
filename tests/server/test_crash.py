"""Nothing answered is lost: a server killed (SIGKILL) at random moments while clients
submit 20,000 runs, then started again, has every run it acknowledged. SKARVOLT_STORE=sqlite
(a file in a temporary folder) or postgres (a cluster the test starts itself, which lives
on while the server is killed)."""

import http.client
import json
import os
import random
import threading
import time
import unittest

from support import Postgres, Scratch, Server, recording

STORE = os.environ.get("SKARVOLT_STORE", "sqlite")
SUBMISSIONS = int(os.environ.get("SKARVOLT_CRASH_SUBMISSIONS", "20000"))
CLIENTS = 8
# The longest the test may run, in seconds: it stops by itself, failed, after that.
DEADLINE = 400


class Crash(unittest.TestCase):
    def setUp(self):
        self.scratch = Scratch()
        self.postgres = None
        store = ["--data", os.path.join(self.scratch.dir, "data")]
        if STORE == "postgres":
            self.postgres = Postgres()
            store = ["--database", self.postgres.uri]
        self.server = Server("--max-per-minute", "0", store_args=store)
        self.port = self.server.port
        self.lock = threading.Lock()
        self.next = 0
        self.acknowledged = {}  # name: (id, score)
        self.stop = time.monotonic() + DEADLINE

    def tearDown(self):
        self.server.kill()
        if self.postgres is not None:
            self.postgres.stop()
        self.scratch.stop()

    def take(self):
        with self.lock:
            if self.next >= SUBMISSIONS:
                return None
            self.next += 1
            return self.next

    def client(self, seed):
        text = recording(f"seed {seed}\npress\ntick 100\nframe\n")
        connection = None
        number = self.take()
        while number is not None and time.monotonic() < self.stop:
            name = f"crash{number}"
            try:
                if connection is None:
                    connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
                connection.request("POST", f"/api/runs?name={name}", body=text)
                answer = connection.getresponse()
                body = answer.read()
            except (OSError, http.client.HTTPException):
                # Killed under it: not acknowledged, so sent again (the same run under the
                # same name is entered once).
                if connection is not None:
                    connection.close()
                connection = None
                time.sleep(0.01)
                continue
            if answer.status == 201:
                run = json.loads(body)["runs"][0]
                with self.lock:
                    self.acknowledged[name] = (run["id"], run["score"])
                number = self.take()
            else:
                self.fail(f"{answer.status} {body!r}")
        if connection is not None:
            connection.close()

    def test_every_acknowledged_run_survives_kill_9(self):
        clients = [threading.Thread(target=self.client, args=(seed,)) for seed in range(CLIENTS)]
        for c in clients:
            c.start()
        kills = 0
        rng = random.Random(29)
        while any(c.is_alive() for c in clients) and time.monotonic() < self.stop:
            time.sleep(rng.uniform(0.05, 0.6))
            if not any(c.is_alive() for c in clients):
                break
            self.server.kill()
            kills += 1
            self.server.start()
            self.port = self.server.port
        for c in clients:
            c.join()
        self.assertLess(time.monotonic(), self.stop, "the submissions took too long")
        self.assertEqual(len(self.acknowledged), SUBMISSIONS)
        self.assertGreater(kills, 5)

        self.server.kill()
        self.server.start()
        missing = []
        for name, (run_id, score) in self.acknowledged.items():
            status, body = self.server.json("GET", f"/api/runs/{run_id}")
            if status != 200 or (body["name"], body["score"]) != (name, score):
                missing.append((name, run_id, status))
        self.assertEqual(missing, [])
        print(f"{STORE}: {SUBMISSIONS} runs acknowledged across {kills} kills, every one kept")


if __name__ == "__main__":
    unittest.main()
