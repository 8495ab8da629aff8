"""What the server's tests share: a server of their own on 127.0.0.1, a throw-away
PostgreSQL cluster, the simulator's verdict on a recording, and a few recordings."""

import glob
import http.client
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest
from urllib.parse import quote

SERVER = os.environ.get("SKARVOLT_SERVER", "skarvolt-server")
SIM = os.environ.get("SKARVOLT_SIM", "skarvolt-sim")
VERSION = os.environ.get("SKARVOLT_VERSION", "1.1")
# Exit status of a test that cannot run here (ctest's SKIP_RETURN_CODE).
SKIPPED = 77


def recording(body, header=""):
    """A recording as the game writes it: its header line, comments, then the events."""
    return f"# Skarvolt {VERSION} recording\n{header}{body}".encode()


# Held from the press: the ship leaves the top of the window on tick 45.
HELD = "seed 1\npress\ntick 100\nframe\n"
# Past the first three blocks of seed 1, then let fall: 249 ticks.
BLOCKS = ("seed 1\npress\ntick 31\nrelease\ntick 70\npress\ntick 68\nrelease\ntick 1000\n"
          "frame\n")


def sim_crashes(text):
    """The scores at which the simulator crashes the runs of a recording."""
    done = subprocess.run([SIM], input=text, capture_output=True, check=True)
    return [int(line.split()[1]) for line in done.stdout.decode().splitlines()
            if line.startswith("crash ")]


class Server:
    """skarvolt-server on a free port of 127.0.0.1, stopped by stop() or kill()."""

    def __init__(self, *args, store_args=(), environment=None, wait=True):
        self.args = list(args)
        self.store_args = list(store_args)
        self.environment = environment
        self.launch()
        if wait:
            self.wait_ready()

    def start(self):
        self.launch()
        self.wait_ready()

    def launch(self):
        self.connection = None
        # What it says on standard error goes to a file, which never fills up as a pipe
        # would, and is shown by the test that fails.
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [SERVER, "--listen", "127.0.0.1:0", *self.store_args, *self.args],
            stdout=subprocess.PIPE, stderr=self.errors, env=self.environment)

    def wait_ready(self):
        """Reads the start-up line, which names the port."""
        self.first_line = self.process.stdout.readline().decode()
        if "listening on http://127.0.0.1:" not in self.first_line:
            self.process.kill()
            self.process.wait()
            raise RuntimeError("the server did not start: " + self.first_line
                               + self.error_text())
        self.port = int(self.first_line.split("127.0.0.1:")[1].split(",")[0])
        self.connection = None

    def request(self, method, path, body=None, headers=None):
        """(status, headers, body as bytes), on one connection kept open."""
        for tried in range(2):
            if self.connection is None:
                self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
            try:
                self.connection.request(method, path, body=body, headers=headers or {})
                answer = self.connection.getresponse()
                return answer.status, dict(answer.getheaders()), answer.read()
            except (ConnectionError, http.client.HTTPException):
                self.connection.close()
                self.connection = None
                if tried:
                    raise

    def json(self, method, path, body=None):
        status, headers, data = self.request(method, path, body)
        assert headers.get("Content-Type") == "application/json", (path, headers)
        return status, json.loads(data)

    def submit(self, text, name="ann", attempt=None):
        query = "name=" + quote(name, safe="%") + (f"&attempt={attempt}" if attempt else "")
        return self.json("POST", "/api/runs?" + query, text)

    def error_text(self):
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace")

    def end(self, signal_number):
        if self.connection is not None:
            self.connection.close()
        self.process.send_signal(signal_number)
        self.process.wait(timeout=30)
        self.process.stdout.close()
        self.errors.close()

    def stop(self):
        self.end(signal.SIGTERM)

    def kill(self):
        self.end(signal.SIGKILL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Postgres:
    """A PostgreSQL cluster of the test's own, in a temporary folder, on 127.0.0.1. Run as
    root, the cluster belongs to "nobody" (the server refuses root)."""

    def __init__(self):
        found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
        if not found:
            raise unittest.SkipTest("PostgreSQL is not installed (package postgresql)")
        self.bin = os.path.dirname(found[-1])
        self.dir = tempfile.mkdtemp(prefix="skarvolt-postgres-")
        self.as_owner = []
        if os.getuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(self.dir, nobody.pw_uid, nobody.pw_gid)
            self.as_owner = ["runuser", "-u", "nobody", "--"]
        self.data = os.path.join(self.dir, "data")
        port = free_port()
        self.owner(["initdb", "--no-sync", "-D", self.data, "-A", "trust", "-U", "skarvolt"])
        self.owner(["pg_ctl", "-D", self.data, "-l", os.path.join(self.dir, "log"), "-w",
                    "-o", f"-k {self.dir} -p {port} -h 127.0.0.1", "start"])
        subprocess.run([os.path.join(self.bin, "createdb"), "-h", "127.0.0.1", "-p",
                        str(port), "-U", "skarvolt", "leaderboard"], check=True,
                       capture_output=True)
        self.uri = f"postgresql://skarvolt@127.0.0.1:{port}/leaderboard"
        self.port = port
        self.databases = 0

    def owner(self, command):
        command[0] = os.path.join(self.bin, command[0])
        subprocess.run(self.as_owner + command, check=True, capture_output=True, cwd=self.dir)

    def new_database(self):
        """The address of an empty database of the cluster."""
        self.databases += 1
        name = f"board{self.databases}"
        subprocess.run([os.path.join(self.bin, "createdb"), "-h", "127.0.0.1", "-p",
                        str(self.port), "-U", "skarvolt", name], check=True,
                       capture_output=True)
        return f"postgresql://skarvolt@127.0.0.1:{self.port}/{name}"

    def stop(self):
        try:
            self.owner(["pg_ctl", "-D", self.data, "-m", "immediate", "stop"])
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)


class Scratch:
    """A temporary folder, removed at the end."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="skarvolt-server-")

    def stop(self):
        shutil.rmtree(self.dir, ignore_errors=True)
