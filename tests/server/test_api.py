"""The leaderboard's API against a real store: SKARVOLT_STORE=sqlite (a file in a
temporary folder) or postgres (a cluster the test starts itself). The same suite runs on
both; what does not depend on the store runs with SQLite only."""

import datetime
import glob
import os
import re
import subprocess
import time
import unittest

from support import (BLOCKS, HELD, SERVER, Postgres, Scratch, Server, recording,
                     sim_crashes)

STORE = os.environ.get("SKARVOLT_STORE", "sqlite")
postgres = None
scratch = None


def setUpModule():
    global postgres, scratch
    scratch = Scratch()
    if STORE == "postgres":
        postgres = Postgres()


def tearDownModule():
    if postgres is not None:
        postgres.stop()
    scratch.stop()


def fresh_dir():
    """A new folder's path inside the test's scratch folder; not made."""
    fresh_dir.count = getattr(fresh_dir, "count", 0) + 1
    return os.path.join(scratch.dir, str(fresh_dir.count))


def new_store():
    """The options of an empty store of the kind under test."""
    if postgres is not None:
        return ["--database", postgres.new_database()]
    return ["--data", fresh_dir()]


def held(seed):
    return f"seed {seed}\npress\ntick 100\nframe\n"


def released(seed):
    return f"seed {seed}\npress\ntick 25\nrelease\ntick 300\nframe\n"


def sqlite_only(cls):
    return unittest.skipIf(STORE != "sqlite", "does not depend on the store")(cls)


class Api(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server("--max-per-minute", "0", store_args=new_store())

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def board(self, seed, query=""):
        status, body = self.server.json("GET", f"/api/boards/{seed}{query}")
        self.assertEqual(status, 200, body)
        self.assertEqual(body["seed"], seed)
        return [(e["name"], e["score"], e["category"]) for e in body["entries"]]

    def test_daily_tunnel(self):
        status, body = self.server.json("GET", "/api/daily")
        self.assertEqual(status, 200)
        today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
        self.assertEqual(body["day"], today)
        self.assertTrue(1 <= body["seed"] < 2**31)
        self.assertEqual(self.server.json("GET", "/api/daily")[1], body)

    def test_attempts(self):
        for seed in (0, 7, 2**64 - 1):
            status, body = self.server.json("POST", "/api/attempts", f'{{"seed":{seed}}}')
            self.assertEqual(status, 201)
            self.assertEqual(body["seed"], seed)
            self.assertRegex(body["attempt"], "^[0-9a-f]{32}$")
        for bad in ("", "seed 1", "{}", '{"seed":-1}', '{"seed":"1"}', '{"seed":1.5}',
                    '{"seed":18446744073709551616}', "[1]"):
            status, body = self.server.json("POST", "/api/attempts", bad)
            self.assertEqual(status, 400, bad)
            self.assertIn("seed", body["error"])

    def test_a_run_is_scored_as_the_server_flies_it(self):
        # A score written into the file, as a comment or as a simulator's line, is read by
        # nobody.
        text = recording(BLOCKS.replace("frame\n", "frame\n# crash 99999\n"),
                         header="# score: 99999\n")
        self.assertEqual(sim_crashes(text), [249])
        status, body = self.server.submit(text, name="flier")
        self.assertEqual(status, 201, body)
        [run] = body["runs"]
        self.assertEqual((run["seed"], run["score"], run["category"], run["timed"]),
                         (1, 249, "standard", False))
        status, entry = self.server.json("GET", f"/api/runs/{run['id']}")
        self.assertEqual(status, 200)
        self.assertEqual({k: entry[k] for k in ("id", "name", "seed", "score", "category")},
                         {"id": run["id"], "name": "flier", "seed": 1, "score": 249,
                          "category": "standard"})
        self.assertRegex(entry["when"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        status, headers, alone = self.server.request("GET", f"/api/runs/{run['id']}/recording")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("text/plain"))
        self.assertTrue(alone.startswith(b"# Skarvolt "))
        self.assertEqual(sim_crashes(alone), [249])

    def test_categories(self):
        cases = [("", "standard"), ("# options: --keys\n", "standard"),
                 ("# options: --toggle\n", "assisted"), ("# options: --speed 70\n", "assisted"),
                 ("# agent: skarvolt python\n", "agent")]
        for i, (header, category) in enumerate(cases):
            status, body = self.server.submit(recording(held(100), header), name=f"cat{i}")
            self.assertEqual(status, 201, body)
            self.assertEqual(body["runs"][0]["category"], category, header)
            alone = self.server.request("GET", f"/api/runs/{body['runs'][0]['id']}/recording")[2]
            self.assertEqual(sim_crashes(alone), [body["runs"][0]["score"]])

    def test_forgeries_are_refused_or_scored_truly(self):
        seed_swapped = recording(BLOCKS.replace("seed 1", "seed 2"))
        extended = recording(BLOCKS.replace("frame\n", "press\ntick 5000\nframe\n"))
        for text in (seed_swapped, extended):
            status, body = self.server.submit(text, name="forger")
            self.assertEqual(status, 201, body)
            self.assertEqual([r["score"] for r in body["runs"]], sim_crashes(text))
        self.assertEqual(body["runs"][0]["score"], 249)
        # Cut short: before the crash there is no run; in the middle of a line, no
        # recording.
        lines = BLOCKS.split("\n")
        cases = [(recording("\n".join(lines[:5]) + "\n"), "no run in the recording"),
                 (recording(BLOCKS[:-3]), "line 11: the last line has no line feed"),
                 (b"hello\n", "line 1: unknown event \"hello\""),
                 (recording("seed 1\npress\nfly\n"), "line 4: unknown event \"fly\"")]
        for text, reason in cases:
            status, body = self.server.submit(text, name="cutter")
            self.assertEqual(status, 400, text)
            self.assertTrue(body["error"].startswith(reason), body)
        self.assertNotIn("cutter", [e[0] for e in self.board(1)])

    def test_attempts_time_the_last_run(self):
        text = recording(held(200))
        # Another tunnel than the attempt's, and a run sooner than it can be flown.
        other = self.server.json("POST", "/api/attempts", '{"seed":201}')[1]["attempt"]
        status, body = self.server.submit(text, name="timer", attempt=other)
        self.assertEqual((status, body["error"]),
                         (400, "the attempt was made for another seed than the run's"))
        attempt = self.server.json("POST", "/api/attempts", '{"seed":200}')[1]["attempt"]
        status, body = self.server.submit(text, name="timer", attempt=attempt)
        self.assertEqual(status, 400)
        self.assertIn("sooner", body["error"])
        # Slow motion: at half the pace the run takes twice as long.
        slow = recording(held(200), "# options: --speed 50\n")
        slow_attempt = self.server.json("POST", "/api/attempts", '{"seed":200}')[1]["attempt"]
        time.sleep(45 * 0.012 + 0.1)
        status, body = self.server.submit(slow, name="timer", attempt=slow_attempt)
        self.assertEqual(status, 400, body)
        status, body = self.server.submit(text, name="timer", attempt=attempt)
        self.assertEqual(status, 201, body)
        self.assertTrue(body["runs"][0]["timed"])
        self.assertEqual(self.server.json("GET", "/api/boards/200")[1]["entries"][0]["timed"], True)
        # The attempt timed this run: sent again it is the same entry; another run may not
        # use it.
        self.assertEqual(self.server.submit(text, name="timer", attempt=attempt)[1], body)
        status, _ = self.server.submit(recording(released(200)), name="timer", attempt=attempt)
        self.assertEqual(status, 409)
        status, body = self.server.submit(text, name="timer", attempt="0" * 32)
        self.assertEqual((status, body["error"]), (400, "no such attempt"))
        time.sleep(45 * 0.012 + 0.1)
        status, body = self.server.submit(slow, name="timer", attempt=slow_attempt)
        self.assertEqual(status, 201, body)
        self.assertEqual(body["runs"][0]["category"], "assisted")

    def test_names(self):
        for good in ("a", "Ann-2_b.c d", "x" * 20, "Åsa", "Ωμέγα"):
            status, body = self.server.submit(recording(held(300)), name=urlquote(good))
            self.assertEqual(status, 201, good)
        status, body = self.server.json("GET", "/api/boards/300?limit=100")
        self.assertIn("Åsa", [e["name"] for e in body["entries"]])
        for bad in ("", "x" * 21, "<b>ann</b>", "ann&bob", "a\tb", "ann;", "\"ann\"", "%FF"):
            quoted = bad if bad == "%FF" else urlquote(bad)
            status, body = self.server.json("POST", "/api/runs?name=" + quoted,
                                            recording(held(300)))
            self.assertEqual(status, 400, bad)
            self.assertIn("name", body["error"])
        status, body = self.server.json("POST", "/api/runs", recording(held(300)))
        self.assertEqual(status, 400)

    def test_boards_keep_each_names_best_highest_first(self):
        seed = 400
        high, low = sim_crashes(recording(held(seed)))[0], sim_crashes(recording(released(seed)))[0]
        self.assertNotEqual(high, low)
        if high < low:
            high_run, low_run = released, held
            high, low = low, high
        else:
            high_run, low_run = held, released
        submissions = [("ann", low_run, ""), ("ann", high_run, ""), ("bob", high_run, ""),
                       ("carl", low_run, ""), ("dan", high_run, "# options: --toggle\n")]
        for name, run, header in submissions:
            status, body = self.server.submit(recording(run(seed), header), name=name)
            self.assertEqual(status, 201, body)
        # ann's best came before bob's equal one; dan's is assisted.
        self.assertEqual(self.board(seed, "?category=standard"),
                         [("ann", high, "standard"), ("bob", high, "standard"),
                          ("carl", low, "standard")])
        self.assertEqual(body["runs"][0]["rank"], 1)
        self.assertEqual(self.board(seed, "?category=assisted"), [("dan", high, "assisted")])
        self.assertEqual(self.board(seed)[2:], [("dan", high, "assisted"), ("carl", low, "standard")])
        self.assertEqual(self.board(seed, "?limit=2"), self.board(seed)[:2])
        # The same run under the same name is entered once, with its rank where it stands.
        again = self.server.submit(recording(high_run(seed)), name="bob")[1]["runs"][0]
        self.assertEqual(again["rank"], 2)
        self.assertEqual(len(self.board(seed)), 4)
        self.assertEqual(self.board(seed + 1), [])

    def test_bad_requests_answer_in_json(self):
        cases = [("GET", "/nothing", 404), ("GET", "/api/nothing", 404),
                 ("GET", "/api/runs/999999", 404), ("GET", "/api/runs/999999/recording", 404),
                 ("GET", "/api/runs/x", 404), ("DELETE", "/api/runs/1", 404),
                 ("GET", "/api/boards/x", 400), ("GET", "/api/boards/-1", 400),
                 ("GET", "/api/boards/1?category=gold", 400),
                 ("GET", "/api/boards/1?limit=0", 400), ("GET", "/api/boards/1?limit=101", 400)]
        for method, path, expected in cases:
            status, body = self.server.json(method, path)
            self.assertEqual(status, expected, path)
            self.assertIn("error", body)

    def test_too_large(self):
        big = recording(BLOCKS + "# " + "x" * (1 << 20) + "\n")
        status, body = self.server.submit(big, name="big")
        self.assertEqual(status, 413, body)
        self.assertNotIn("big", [e[0] for e in self.board(1)])

    def test_what_was_answered_is_there_after_a_restart(self):
        status, body = self.server.submit(recording(held(500)), name="keeper")
        daily = self.server.json("GET", "/api/daily")[1]
        self.server.stop()
        self.server.start()
        self.assertEqual(self.board(500)[0][0], "keeper")
        self.assertEqual(self.server.json("GET", "/api/daily")[1], daily)
        self.assertEqual(self.server.json("GET", f"/api/runs/{body['runs'][0]['id']}")[0], 200)

    def test_each_run_from_its_seed_is_entered(self):
        session = recording(held(600) + released(601) + "press\ntick 100\nframe\n")
        if subprocess.run([os.environ.get("SKARVOLT_SIM", "skarvolt-sim")], input=session,
                          capture_output=True).returncode != 0:
            self.skipTest("the reader takes a seed only as the first event")
        status, body = self.server.submit(session, name="multi")
        self.assertEqual(status, 201, body)
        # The third run flies on from the second's sequence: no seed of its own.
        self.assertEqual([(r["seed"], r["score"]) for r in body["runs"]],
                         list(zip([600, 601], sim_crashes(session)[:2])))


@unittest.skipIf(STORE != "postgres", "several servers share a PostgreSQL database")
class SharedDatabase(unittest.TestCase):
    def test_servers_on_one_database_answer_alike(self):
        uri = postgres.new_database()
        # Started together: each makes the tables if they are not there.
        servers = [Server("--max-per-minute", "0", store_args=["--database", uri], wait=False)
                   for _ in range(3)]
        try:
            for s in servers:
                s.wait_ready()
            a, b, c = servers
            attempt = a.json("POST", "/api/attempts", '{"seed":800}')[1]["attempt"]
            time.sleep(45 * 0.012 + 0.1)
            status, body = b.submit(recording(held(800)), name="ann", attempt=attempt)
            self.assertEqual(status, 201, body)
            self.assertTrue(body["runs"][0]["timed"])
            # The attempt is spent on every server.
            status, _ = c.submit(recording(released(800)), name="ann", attempt=attempt)
            self.assertEqual(status, 409)
            c.submit(recording(released(800)), name="bob")
            boards = [s.json("GET", "/api/boards/800")[1] for s in servers]
            self.assertEqual(boards[0], boards[1])
            self.assertEqual(boards[0], boards[2])
            self.assertEqual(len(boards[0]["entries"]), 2)
            self.assertEqual(len({s.json("GET", "/api/daily")[1]["seed"] for s in servers}), 1)
        finally:
            for s in servers:
                s.stop()


def urlquote(text):
    from urllib.parse import quote
    return quote(text, safe="")


@sqlite_only
class Limits(unittest.TestCase):
    def test_too_many_submissions_from_one_address(self):
        server = Server("--max-per-minute", "3", store_args=new_store())
        try:
            statuses = [server.submit(recording(held(700 + i)))[0] for i in range(3)]
            status, headers, body = server.request("POST", "/api/runs?name=ann",
                                                   recording(held(710)))
            self.assertEqual(statuses + [status], [201, 201, 201, 429])
            self.assertTrue(1 <= int(headers["Retry-After"]) <= 60)
            self.assertEqual(server.json("GET", "/api/boards/710")[1]["entries"], [])
            # Reading is never limited; attempts may come four times as often.
            self.assertEqual(server.json("GET", "/api/boards/700")[0], 200)
            statuses = [server.json("POST", "/api/attempts", '{"seed":1}')[0] for _ in range(13)]
            self.assertEqual(statuses, [201] * 12 + [429])
        finally:
            server.stop()

    def test_behind_a_proxy_each_client_is_counted_alone(self):
        def send(server, forwarded, seed):
            return server.request("POST", "/api/runs?name=ann", recording(held(seed)),
                                  {"X-Forwarded-For": forwarded})[0]

        # Through a load balancer at 127.0.0.1 every request comes from one peer: the client
        # the proxy named last in X-Forwarded-For is counted, whatever the client wrote first.
        server = Server("--max-per-minute", "2", "--proxy", "127.0.0.1", store_args=new_store())
        try:
            self.assertEqual([send(server, "198.51.100.1", 720),
                              send(server, "203.0.113.5, 198.51.100.1", 721),
                              send(server, " 198.51.100.1 ", 722)], [201, 201, 429])
            self.assertEqual(send(server, "2001:db8::7", 723), 201)
            # A header that names no address counts as the proxy's own request.
            self.assertEqual([send(server, "", 724), send(server, "198.51.100.1, <b>", 725),
                              send(server, "nobody", 726)], [201, 201, 429])
        finally:
            server.stop()
        # Without --proxy nobody's header is believed.
        server = Server("--max-per-minute", "2", store_args=new_store())
        try:
            self.assertEqual([send(server, f"198.51.100.{i}", 730 + i) for i in range(3)],
                             [201, 201, 429])
        finally:
            server.stop()


@sqlite_only
class CommandLine(unittest.TestCase):
    def run_server(self, *args):
        return subprocess.run([SERVER, *args], capture_output=True, text=True, timeout=30)

    def test_refusals_are_one_line_and_status_2(self):
        for args in (["--bogus"], ["--listen"], ["--listen", "nowhere"],
                     ["--listen", "127.0.0.1:70000"], ["--max-per-minute", "-1"],
                     ["--data", "a", "--database", "postgresql://x/y"],
                     ["--site", "a", "--site", "b"], ["--proxy"], ["--proxy", "lb.example"]):
            done = self.run_server(*args)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
            self.assertTrue(done.stderr.startswith("skarvolt-server: "))

    def test_help_and_version(self):
        self.assertIn("--max-per-minute", self.run_server("--help").stdout)
        self.assertRegex(self.run_server("--version").stdout, r"^Skarvolt \d+\.\d+\n$")

    def test_a_store_that_is_no_file_is_left_alone(self):
        data = fresh_dir()
        os.makedirs(data)
        os.mkfifo(os.path.join(data, "skarvolt-server.sqlite"))
        done = self.run_server("--data", data, "--listen", "127.0.0.1:0")
        self.assertEqual(done.returncode, 1)
        self.assertIn("skarvolt-server.sqlite is not a regular file", done.stderr)

    def test_a_file_of_another_program_is_left_alone(self):
        cases = [(b"not a database at all, just text\n" * 200, "file is not a database"),
                 (None, "holds tables of another program's (notes)")]
        for content, reason in cases:
            data = fresh_dir()
            os.makedirs(data)
            path = os.path.join(data, "skarvolt-server.sqlite")
            if content is None:
                import sqlite3
                with sqlite3.connect(path) as other:
                    other.execute("CREATE TABLE notes (text TEXT)")
                content = open(path, "rb").read()
            else:
                open(path, "wb").write(content)
            done = self.run_server("--data", data, "--listen", "127.0.0.1:0")
            self.assertEqual(done.returncode, 1)
            self.assertEqual(done.stderr, f"skarvolt-server: {path}: {reason}\n")
            self.assertEqual(open(path, "rb").read(), content)

    def test_the_store_is_made_in_the_home_of_the_password_database(self):
        # The home comes from a password database of the test's own (nss_wrapper), never
        # from $HOME, and never the real one.
        found = glob.glob("/usr/lib/*/libnss_wrapper.so")
        if not found:
            self.skipTest("nss_wrapper is not installed (package libnss-wrapper)")
        home = fresh_dir()
        os.makedirs(home)
        passwd, group = os.path.join(home, "passwd"), os.path.join(home, "group")
        with open(passwd, "w") as entries:
            entries.write(f"player:x:{os.getuid()}:{os.getgid()}::{home}:/bin/sh\n")
        with open(group, "w") as entries:
            entries.write(f"player:x:{os.getgid()}:\n")
        # A sanitized build's run-time library must come first.
        linked = subprocess.run(["ldd", SERVER], capture_output=True, text=True).stdout
        sanitizer = [w for w in linked.split() if "/libasan" in w]
        environment = dict(os.environ, LD_PRELOAD=" ".join(sanitizer + found[:1]),
                           NSS_WRAPPER_PASSWD=passwd,
                           NSS_WRAPPER_GROUP=group, HOME="/nonexistent")
        server = Server(environment=environment)
        try:
            store = os.path.join(home, ".local/share/skarvolt-server/skarvolt-server.sqlite")
            self.assertIn(f"keeping runs in the SQLite file {store}\n", server.first_line)
            self.assertTrue(os.path.isfile(store))
        finally:
            server.stop()

    def test_start_line_names_the_store(self):
        data = os.path.join(fresh_dir(), "a", "b")
        server = Server(store_args=["--data", data])
        try:
            self.assertRegex(server.first_line, "^skarvolt-server: listening on "
                             r"http://127\.0\.0\.1:\d+, keeping runs in the SQLite file "
                             + re.escape(data) + "/skarvolt-server.sqlite\n$")
            self.assertTrue(os.path.isfile(os.path.join(data, "skarvolt-server.sqlite")))
        finally:
            server.stop()


@sqlite_only
class Site(unittest.TestCase):
    def test_the_site_beside_the_api(self):
        site = fresh_dir()
        os.makedirs(site)
        with open(os.path.join(site, "index.html"), "w") as page:
            page.write("<p>Skarvolt</p>\n")
        server = Server("--site", site, store_args=new_store())
        try:
            status, headers, body = server.request("GET", "/")
            self.assertEqual((status, body), (200, b"<p>Skarvolt</p>\n"))
            self.assertEqual(server.json("GET", "/api/daily")[0], 200)
            self.assertEqual(server.json("GET", "/missing.html")[0], 404)
            self.assertEqual(server.request("GET", "/../../etc/passwd")[0], 404)
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main()
