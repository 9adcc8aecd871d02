"""A Tango database of the tests' own: MariaDB and DataBaseds in a temporary folder on loopback ports.

    with TangoDatabase(folder) as database:
        os.environ["TANGO_HOST"] = database.tango_host

MariaDB comes from Debian's mariadb-server, DataBaseds and the schema from
tango-db. Both run as ordinary processes of the caller and are stopped, and
their files removed with the folder, at the end.
"""

from __future__ import annotations

import os
import shutil
import socket
import subprocess
import time
from collections.abc import Callable
from pathlib import Path
from types import TracebackType

SCHEMA = Path("/usr/share/dbconfig-common/data/tango-db/install/mysql")
DATABASEDS = Path("/usr/lib/tango/DataBaseds")
START_LIMIT_S = 30.0
STOP_LIMIT_S = 10.0
POLL_S = 0.05
USER, PASSWORD = "tango", "tango-test"


def free_port() -> int:
    """A loopback port that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


def stop(process: subprocess.Popen[bytes]) -> None:
    """Ends a process that the harness started: SIGTERM, then SIGKILL when it lingers."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(STOP_LIMIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class TangoDatabase:
    """MariaDB holding the Tango schema, and DataBaseds in front of it; `tango_host` is what clients set."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        self.socket = folder / "db.sock"
        self.tango_host = ""
        self._mariadb_port = 0
        self._processes: list[subprocess.Popen[bytes]] = []

    def __enter__(self) -> TangoDatabase:
        missing = [str(p) for p in (SCHEMA, DATABASEDS) if not p.exists()]
        missing += [p for p in ("mariadbd", "mariadb-install-db", "mariadb", "tango_admin") if not shutil.which(p)]
        if missing:
            raise RuntimeError(f"the Tango database needs mariadb-server and tango-db: missing {', '.join(missing)}")
        try:
            self._start_mariadb()
            self._start_databaseds()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None
    ) -> None:
        self.stop()

    def stop(self) -> None:
        """Stops DataBaseds, then MariaDB."""
        while self._processes:
            stop(self._processes.pop())

    def _spawn(self, command: list[str], log: str, env: dict[str, str] | None = None) -> subprocess.Popen[bytes]:
        with open(self.folder / log, "wb") as output:
            process = subprocess.Popen(command, stdout=output, stderr=subprocess.STDOUT, env=env)
        self._processes.append(process)
        return process

    def _sql(self, statements: str, database: str = "") -> subprocess.CompletedProcess[bytes]:
        command = ["mariadb", "--no-defaults", "-S", str(self.socket)] + ([database] if database else [])
        return subprocess.run(command, input=statements.encode(), capture_output=True, check=False)

    def _start_mariadb(self) -> None:
        data = self.folder / "db"
        subprocess.run(
            ["mariadb-install-db", "--no-defaults", "--user=root", f"--datadir={data}",
             "--auth-root-authentication-method=socket", "--skip-test-db", "--innodb-log-file-size=8M"],
            check=True, capture_output=True,
        )
        port = self._mariadb_port = free_port()
        server = self._spawn(
            ["mariadbd", "--no-defaults", "--user=root", f"--datadir={data}", f"--socket={self.socket}",
             f"--pid-file={self.folder / 'db.pid'}", "--bind-address=127.0.0.1", f"--port={port}",
             "--skip-log-bin", "--innodb-buffer-pool-size=32M", "--innodb-log-file-size=8M",
             f"--log-error={self.folder / 'db.err'}"],
            "mariadbd.log",
        )
        self._await(lambda: self._sql("SELECT 1").returncode == 0, server, "MariaDB", "db.err")
        grants = "".join(
            f"CREATE USER {USER}@'{host}' IDENTIFIED BY '{PASSWORD}'; GRANT ALL ON tango.* TO {USER}@'{host}';"
            for host in ("localhost", "127.0.0.1")
        )
        self._check(self._sql("CREATE DATABASE tango;" + grants), "creating the tango database")
        self._check(self._sql(SCHEMA.read_text(), "tango"), "loading the Tango schema")

    def _start_databaseds(self) -> None:
        port = free_port()
        env = dict(os.environ, MYSQL_USER=USER, MYSQL_PASSWORD=PASSWORD, MYSQL_DATABASE="tango",
                   MYSQL_HOST=f"127.0.0.1:{self._mariadb_port}")
        endpoint = f"giop:tcp:127.0.0.1:{port}"
        server = self._spawn([str(DATABASEDS), "2", "-ORBendPoint", endpoint], "databaseds.log", env)
        self.tango_host = f"127.0.0.1:{port}"
        ping = subprocess.run(
            ["tango_admin", "--ping-database", str(int(START_LIMIT_S))],
            env=dict(os.environ, TANGO_HOST=self.tango_host), capture_output=True, check=False,
        )
        if ping.returncode != 0 or server.poll() is not None:
            raise RuntimeError(f"DataBaseds did not answer: {self._log('databaseds.log')}")

    def _await(self, ready: Callable[[], bool], process: subprocess.Popen[bytes], name: str, log: str) -> None:
        deadline = time.monotonic() + START_LIMIT_S
        while not ready():
            if process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"{name} did not start: {self._log(log)}")
            time.sleep(POLL_S)

    def _check(self, result: subprocess.CompletedProcess[bytes], step: str) -> None:
        if result.returncode != 0:
            raise RuntimeError(f"{step}: {result.stderr.decode(errors='replace').strip()}")

    def _log(self, name: str) -> str:
        path = self.folder / name
        return path.read_text(errors="replace")[-2000:] if path.exists() else "(no log)"
