"""The real Java VM fixture: Avian's jvm.dll, built by the project from the
sources in $OSTREL_AVIAN_DIR (default ../shared/avian beside the source tree)
into build/avian/x86_64/ (build/avian/i386/ for the i686 build), and the Java
test application (tests/javaapp), compiled into $OSTREL_BUILD_DIR/javaapp/classes.
Used by the end-to-end tests, the demo and the benchmarks.

The application is a server on 127.0.0.1: `ask` sends it one line of system
property names and returns its one-line JSON answer as a dict.
"""

import json
import os
import socket
import time
from pathlib import Path

from winehost import BUILD_DIR, DEFAULT_TIMEOUT, MACHINE, REPO, WorkDir, wait_for, win_path

AVIAN_DIR = Path(os.environ.get("OSTREL_AVIAN_DIR") or REPO.parent / "shared" / "avian")
AVIAN_DLL = BUILD_DIR.parent / "avian" / {"i686": "i386"}.get(MACHINE, MACHINE) / "jvm.dll"
CLASSES = BUILD_DIR / "javaapp" / "classes"
PORT_PROPERTY = "fileserver.port"
MAIN_PROPERTY = "fileserver.main"
HOOK_PROPERTY = "fileserver.hook"
BURST_PROPERTY = "fileserver.burst"
HOOK_FILE = "shutdown-hook.txt"
HOOK_LINES = ("FileServer: shutdown hook begins", "FileServer: shutdown hook ends")
SERVER_THREAD = "fileserver"
MAIN_CLASS = "vantor/str/diskarray/rmi/FileServer"


def missing():
    """Why there is no real VM here, in one line, or None when the build makes one."""
    if not (AVIAN_DIR / "build.sh").exists():
        return f"no Avian sources (build.sh) in {AVIAN_DIR}; set OSTREL_AVIAN_DIR to the folder that has them"
    return None


def free_port():
    """A port nobody listens on right now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def burst_line(i, k):
    """Line k of burst i, as the stand-in VM and the test application write it:
    exactly 100 bytes with its "\\n"."""
    head = f"burst {i} line {k:08d} "
    return head + "x" * (99 - len(head)) + "\n"


def code_points(text):
    return [ord(c) for c in text]


class JavaApp:
    """The test application in one working directory, with the real VM below it
    and a port of its own."""

    def __init__(self, workdir, classes=CLASSES):
        self.workdir = workdir
        self.classes = classes
        self.port = free_port()

    @classmethod
    def install(cls, folder, classes=CLASSES, vm_folder="client"):
        """The application in `folder`, the VM in its runtime's client or server folder."""
        return cls(WorkDir(folder, AVIAN_DLL, folder=vm_folder), classes)

    @property
    def class_path(self):
        return "-Djava.class.path=" + win_path(self.classes)

    def options(self, main=None, class_path=True, hook=None, burst=None):
        """The VM options that start the application: its class path, its port and,
        when given, how main behaves ("throw", "block:MS", "exit:CODE:MS",
        "thread-throws"), the time its shutdown hook takes ("MS" or "forever") and
        the bytes of burst lines (burst_line(0, k)) a thread of it prints."""
        return ([self.class_path] if class_path else []) + [f"-D{PORT_PROPERTY}={self.port}"] + (
            [f"-D{MAIN_PROPERTY}={main}"] if main else []) + (
            [f"-D{HOOK_PROPERTY}={hook}"] if hook is not None else []) + (
            [f"-D{BURST_PROPERTY}={burst}"] if burst is not None else [])

    def entries(self, *args, **options):
        return [self.workdir.entry, *self.options(**options), *args]

    def lines(self, args=(), main=None):
        """The application's own lines on standard output until main returns,
        throws or blocks."""
        lines = [f"FileServer: main({len(args)} arguments)", f"FileServer: listening on 127.0.0.1:{self.port}"]
        if main and main.startswith("block:"):
            return lines + [f"FileServer: main blocks for {main[6:]} ms"]
        return lines + ([] if main == "throw" else ["FileServer: main returns"])

    def hook_ran(self):
        """Whether the shutdown hook has run (it writes its file in the working directory)."""
        return (self.workdir.path / HOOK_FILE).exists()

    def ask(self, *names, wait=False, timeout=DEFAULT_TIMEOUT):
        """The answer to a request for these properties; with wait, once the server
        listens (a refused connection is tried again until timeout)."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                client = socket.create_connection(("127.0.0.1", self.port), timeout=timeout)
                break
            except ConnectionRefusedError:
                if not wait or time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        with client:
            client.sendall((" ".join(names) + "\n").encode())
            line = client.makefile("rb").readline()
        assert line.endswith(b"\n"), f"the application's answer was cut: {line!r}"
        return json.loads(line)

    def listening(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except ConnectionRefusedError:
            return False

    def assert_closed(self, timeout=DEFAULT_TIMEOUT):
        assert wait_for(lambda: not self.listening(), timeout), f"port {self.port} still open"


def wine_processes(prefix, name):
    """The Linux pids of the Wine processes of that prefix whose command line names
    that executable."""
    found = []
    for proc in Path("/proc").iterdir():
        try:
            if not proc.name.isdigit() or name.encode() not in (proc / "cmdline").read_bytes():
                continue
            environ = (proc / "environ").read_bytes().split(b"\0")
        except OSError:
            continue  # ended meanwhile, or not ours to read
        if f"WINEPREFIX={prefix}".encode() in environ:
            found.append(int(proc.name))
    return found


def wait_gone(prefix, name, timeout=DEFAULT_TIMEOUT):
    """Waits until no such process runs; the pids still running on time-out."""
    deadline = time.monotonic() + timeout
    while (pids := wine_processes(prefix, name)) and time.monotonic() < deadline:
        time.sleep(0.05)
    return pids
