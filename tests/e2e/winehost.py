"""Drives OstrelServer.exe under Wine against the test VM.

One Wine session (prefix and persistent wineserver) serves a whole test run.
Each test gets a fresh working directory with the test VM installed at
<workdir>/jre1.6.0/bin/client/jvm.dll (or bin/server); the VM writes its
transcript (testvm.log) next to itself and reads its scenario (testvm.ini)
from there.
"""

import os
import re
import shutil
import signal
import subprocess
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("OSTREL_BUILD_DIR", REPO / "build" / "x86_64")).resolve()
I686_BUILD_DIR = Path(os.environ.get("OSTREL_I686_BUILD_DIR", REPO / "build" / "i686")).resolve()
EXE_NAME = "OstrelServer.exe"


def pe_machine(path):
    """What a PE file is built for: "i686" or "x86_64"; None when it is not there."""
    try:
        with open(path, "rb") as image:
            head = image.read(4096)
    except FileNotFoundError:
        return None
    at = int.from_bytes(head[0x3C:0x40], "little")
    return {0x14C: "i686", 0x8664: "x86_64"}.get(int.from_bytes(head[at + 4:at + 6], "little"))


# The build under test decides which Wine runs it. The x86_64 one runs under
# Debian's wine64, named directly: Debian 12 puts no wine64 on the PATH, and its
# wine wrapper may pick a 32-bit loader. The i686 one runs under Debian's
# wine32, which scripts/setup unpacked into a root of its own: its loader runs
# by emulation (binfmt_misc hands every i386 ELF to qemu-i386, which takes its
# libraries from that root), with the machine's own x86_64 server.
MACHINE = pe_machine(BUILD_DIR / EXE_NAME) or "x86_64"
WINE32_ROOT = Path(os.environ.get("OSTREL_WINE32_ROOT", REPO / "build" / "wine32" / "root")).resolve()
WINESERVER = "/usr/lib/wine/wineserver"
if MACHINE == "i686":
    WINE = str(WINE32_ROOT / "usr" / "lib" / "wine" / "wine")
    WINE_ENV = {"QEMU_LD_PREFIX": str(WINE32_ROOT), "WINEARCH": "win32", "WINESERVER": WINESERVER,
                "WINEDLLPATH": str(WINE32_ROOT / "usr" / "lib" / "i386-linux-gnu" / "wine")}
    # Emulated, a process takes several times as long; the harness waits as much longer.
    TIME_SCALE = 4
else:
    WINE = "/usr/lib/wine/wine64"
    WINE_ENV = {}
    TIME_SCALE = 1
RUNTIME_BIN = Path("jre1.6.0", "bin")
# The test VM that imports a stand-in C runtime library, which lies in bin\.
RUNTIME_VM = "jvm_msvcr71.dll"
RUNTIME_LIBRARY = "msvcr71.dll"

# Long enough for a loaded machine; a hang still fails instead of blocking.
DEFAULT_TIMEOUT = 15 * TIME_SCALE


def win_path(path):
    """The Windows form of a Unix path, as Wine maps it (drive Z: is /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def fold(text):
    """Standard output of a Wine program is in text mode: "\\n" arrives as "\\r\\n"."""
    return text.replace("\r\n", "\n")


def wait_for(predicate, timeout=DEFAULT_TIMEOUT, interval=0.05):
    """Polls predicate until it gives a true value, which is returned; None on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return f"Result(rc={self.returncode!r}, stdout={self.stdout!r}, stderr={self.stderr[-2000:]!r})"


class WineSession:
    """A Wine prefix with a persistent wineserver."""

    def __init__(self, root, extra_env=None):
        self.root = Path(root)
        self.prefix = self.root / "prefix"
        self.log = self.root / "wineboot.log"
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)
        self.env.update(
            WINEPREFIX=str(self.prefix),
            WINELOADER=WINE,
            # msvcr71 native only, as on Windows: Wine's built-in one would let
            # a runtime's jvm.dll load without its own C library.
            WINEDLLOVERRIDES="mscoree,mshtml=;msvcr71=n",
            WINEDEBUG="-all,err+eventlog",
            **WINE_ENV,
        )
        self.env.update(extra_env or {})

    def _boot(self):
        self.prefix.mkdir(parents=True, exist_ok=True)
        with open(self.log, "ab") as log:
            # Fails harmlessly when this prefix's server is already running.
            subprocess.run([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=log, timeout=60)
            # The system processes wineboot starts inherit these handles: no pipes.
            # No "-i": the first process of a session runs "wineboot --init" by
            # itself, and a second init starts a second services.exe, whose own
            # service database then answers every other request to the manager.
            boot = subprocess.run([WINE, "wineboot"], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=log, timeout=180 * TIME_SCALE)
        # The registry files are written later by the persistent server.
        return boot.returncode == 0 and (self.prefix / "drive_c/windows/system32/kernel32.dll").exists()

    def start(self):
        self.root.mkdir(parents=True, exist_ok=True)
        if self._boot():
            return self
        # A broken or half-made prefix: start again from nothing.
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)
        if not self._boot():
            raise RuntimeError(f"wineboot failed; see {self.log}")
        return self

    def stop(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def _env(self, env_extra):
        env = dict(self.env)
        env.update(env_extra or {})
        return env

    def popen(self, exe, args, cwd=None, env_extra=None, stdin=subprocess.DEVNULL):
        return subprocess.Popen([WINE, str(exe), *args], cwd=cwd, env=self._env(env_extra),
                                stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)


class Background:
    """A host process running in the background, to be interrupted. Its output is
    collected as it comes (the host flushes each console line)."""

    def __init__(self, proc):
        self.proc = proc
        self._out = bytearray()
        self._err = bytearray()
        self._readers = [threading.Thread(target=self._drain, args=(pipe, buf), daemon=True)
                         for pipe, buf in ((proc.stdout, self._out), (proc.stderr, self._err))]
        for reader in self._readers:
            reader.start()

    @staticmethod
    def _drain(pipe, buf):
        for chunk in iter(lambda: pipe.read1(4096), b""):
            buf += chunk
        pipe.close()

    def stdout(self):
        return fold(bytes(self._out).decode(errors="replace"))

    def wait_for_output(self, text, timeout=DEFAULT_TIMEOUT):
        assert wait_for(lambda: text in self.stdout() or not self.alive(), timeout), \
            f"no {text!r} on stdout after {timeout} s: {self.stdout()!r}"
        assert text in self.stdout(), f"ended without printing {text!r}: {self.finish()!r}"

    def interrupt(self):
        """Ctrl-C: Wine turns SIGINT into CTRL_C_EVENT on a new thread."""
        self.proc.send_signal(signal.SIGINT)

    def alive(self):
        return self.proc.poll() is None

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the end; a process still alive after timeout is killed and fails."""
        try:
            self.proc.wait(timeout)
            hung = False
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            hung = True
        for reader in self._readers:
            reader.join()
        result = Result(self.proc.returncode, self.stdout(), bytes(self._err).decode(errors="replace"))
        if hung:
            raise AssertionError(f"host still running after {timeout} s: {result!r}")
        return result

    def kill(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait()


# ---- transcript -------------------------------------------------------------

_ESCAPES = {ord("\\"): b"\\", ord("t"): b"\t", ord("n"): b"\n", ord("r"): b"\r"}


def unescape(field):
    """One transcript field (UTF-8 bytes) as text. A byte the host gave that is not
    UTF-8 (written as \\xNN) comes back as a surrogate escape, so it stays visible."""
    out = bytearray()
    i = 0
    while i < len(field):
        c = field[i]
        if c == ord("\\") and i + 1 < len(field):
            n = field[i + 1]
            if n in _ESCAPES:
                out += _ESCAPES[n]
                i += 2
                continue
            if n == ord("x"):
                out.append(int(field[i + 2:i + 4], 16))
                i += 4
                continue
            if n == ord("u"):
                out += chr(int(field[i + 2:i + 6], 16)).encode("utf-8", "surrogatepass")
                i += 6
                continue
        out.append(c)
        i += 1
    return out.decode("utf-8", "surrogateescape")


class Transcript:
    """The test VM's record: one tuple of fields per line."""

    def __init__(self, lines):
        self.lines = lines

    @classmethod
    def read(cls, path):
        try:
            data = Path(path).read_bytes()
        except FileNotFoundError:
            return cls([])
        # A line still being written has no line feed yet.
        complete = data[:data.rfind(b"\n") + 1]
        return cls([tuple(unescape(f) for f in raw.split(b"\t"))
                    for raw in complete.split(b"\n")[:-1]])

    def events(self, kind):
        """The fields after the first of every line of that kind."""
        return [line[1:] for line in self.lines if line[0] == kind]

    def has(self, kind):
        return any(line[0] == kind for line in self.lines)

    def jni(self):
        """Every JNI call as (function, args...), without the thread id. The three
        forms of a Call<type>Method (..., V, A) count as one: they differ only in
        how the arguments travel, and the C++ binding picks the V form."""
        return [(re.sub(r"^(Call\w*Method)[VA]$", r"\1", line[2]),) + line[3:]
                for line in self.lines if line[0] == "jni"]

    def calls(self, function):
        """The arguments of every call of one JNI function."""
        return [call[1:] for call in self.jni() if call[0] == function]

    def threads(self):
        """The threads that made JNI calls."""
        return {line[1] for line in self.lines if line[0] == "jni"}

    def violations(self):
        return self.events("violation")

    def traps(self):
        return self.events("trap")

    def main_args(self):
        """The String[] main received, or None when main was not called."""
        if not self.has("main-args"):
            return None
        return [line[2] for line in self.lines if line[0] == "main-arg"]

    def __str__(self):
        return "\n".join("\t".join(line) for line in self.lines)


# ---- what the host does with the VM --------------------------------------------

MAIN_CLASS = "vantor/str/diskarray/rmi/FileServer"
SYSTEM_CLASS = "java/lang/System"
MAIN_SIGNATURE = "([Ljava/lang/String;)V"
STRING_CLASS = "java/lang/String"
LIBRARY_BELOW_WORKDIR = "\\jre1.6.0\\bin\\client\\jvm.dll"
# What a real VM prints when it cannot have its heap (the test VM's "say" lines).
HEAP_WORDS = ["Error occurred during initialization of VM", "Could not reserve enough space for object heap"]


def library_path(directory):
    return directory + LIBRARY_BELOW_WORKDIR


def start_calls(arguments):
    """The JNI calls of a complete start, in order."""
    calls = [("FindClass", MAIN_CLASS),
             ("GetStaticMethodID", MAIN_CLASS, "main", MAIN_SIGNATURE),
             ("FindClass", STRING_CLASS),
             ("NewObjectArray", str(len(arguments)), STRING_CLASS)]
    for i, text in enumerate(arguments):
        calls += [("NewString", text), ("SetObjectArrayElement", str(i), text), ("DeleteLocalRef",)]
    # The empty receiver class name finds nothing; its NoClassDefFoundError is
    # cleared before main may be called.
    calls += [("FindClass", ""), ("ExceptionCheck",), ("ExceptionClear",),
              ("CallStaticVoidMethod", MAIN_CLASS, "main"), ("ExceptionCheck",)]
    return calls


# A stop ends the application as Java ends: System.exit(0), whose shutdown hooks
# the test VM announces on standard output.
END_CALLS = [("FindClass", SYSTEM_CLASS), ("GetStaticMethodID", SYSTEM_CLASS, "exit", "(I)V"),
             ("CallStaticVoidMethod", SYSTEM_CLASS, "exit")]
HOOK_LINES = ["testvm: shutdown hook begins", "testvm: shutdown hook ends"]


def options_of(transcript):
    """The option strings the VM got, checked to be numbered 0, 1, 2, ..."""
    lines = transcript.events("option")
    assert [i for i, _ in lines] == [str(n) for n in range(len(lines))]
    return [text for _, text in lines]


# ---- one test's host runs ----------------------------------------------------

class WorkDir:
    """A working directory with the test VM installed below it, in the client
    VM's folder or the server VM's."""

    def __init__(self, path, dll, scenario=None, folder="client"):
        self.path = Path(path)
        self.vm_dir = self.path / RUNTIME_BIN / folder
        self.log = self.vm_dir / "testvm.log"
        self.vm_dir.mkdir(parents=True)
        shutil.copyfile(dll, self.vm_dir / "jvm.dll")
        if Path(dll).name == RUNTIME_VM:
            shutil.copyfile(Path(dll).with_name(RUNTIME_LIBRARY), self.vm_dir.parent / RUNTIME_LIBRARY)
        if scenario:
            lines = [f"{key}={value}" for key, values in scenario.items()
                     for value in (values if isinstance(values, list) else [values])]
            (self.vm_dir / "testvm.ini").write_text("\n".join(lines) + "\n")

    @property
    def win(self):
        return win_path(self.path)

    @property
    def entry(self):
        """The launch entry naming this directory."""
        return "wrkdir=" + self.win

    @property
    def output_log(self):
        """The service's output log in this directory."""
        return self.path / "OstrelServer.log"

    def transcript(self):
        return Transcript.read(self.log)

    def wait_for_event(self, kind, timeout=DEFAULT_TIMEOUT):
        """Waits until the transcript has a line of that kind; the transcript then."""
        found = wait_for(lambda: self.transcript().has(kind), timeout)
        transcript = self.transcript()
        assert found, f"no {kind!r} line in the transcript:\n{transcript}"
        return transcript


class HostRunner:
    """Runs the host for one test. Every process starts in the test's own folder,
    so the host's working directory differs from where it was started."""

    def __init__(self, session, exe, vm_dlls, folder):
        self.session = session
        self.exe = exe
        self.vm_dlls = vm_dlls
        self.folder = Path(folder)
        self.workdirs = []
        self.started = []

    def workdir(self, scenario=None, vm="jvm.dll", name="wd", folder="client"):
        workdir = WorkDir(self.folder / name, self.vm_dlls[vm], scenario, folder)
        self.workdirs.append(workdir)
        return workdir

    def start(self, args, env_extra=None, exe=None):
        host = Background(self.session.popen(exe or self.exe, args, cwd=self.folder,
                                             env_extra=env_extra))
        self.started.append(host)
        return host

    def run(self, args, env_extra=None, timeout=DEFAULT_TIMEOUT):
        """Runs the host to its end; one still running after timeout fails."""
        return self.start(args, env_extra).finish(timeout)

    def finish(self):
        """Ends what a test left running; the JNI faults and traps the test VM saw."""
        for host in self.started:
            host.kill()
        faults = []
        for workdir in self.workdirs:
            transcript = workdir.transcript()
            faults += [(workdir.log, "violation", *v) for v in transcript.violations()]
            faults += [(workdir.log, "trap", *t) for t in transcript.traps()]
        return faults
