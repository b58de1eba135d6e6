"""The host as a service of Wine's service control manager.

A service session is a Wine session of its own. Its services.exe, and so every
service process it starts, runs with the traces below and writes them to the
session's boot log, each line led by "<pid>:<tid>:": every SetServiceStatus
call, every control the service's dispatcher takes, and every event written to
the event log. One ordinary process stays alive for the whole session: Wine
kills all service processes shortly after the last ordinary one ends.

The tests' own client, scmclient.exe (tests/scmclient), starts, controls and
queries the service and reads and writes the registry.
"""

import re
import subprocess
from collections import namedtuple
from pathlib import Path

from winehost import DEFAULT_TIMEOUT, WineSession, fold, unescape, wait_for, win_path

SERVICE_NAME = "OstrelServer"
DISPLAY_NAME = "Ostrel Server"
SERVICE_KEY = "SYSTEM\\CurrentControlSet\\Services\\OstrelServer"
PARAMETERS_KEY = SERVICE_KEY + "\\Parameters"
OPTIONS_VALUE = "Options"
EVENT_SOURCE_KEY = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OstrelServer"

STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4
# SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN: the
# controls a started service takes on a system from Vista on, as Wine is.
ACCEPT_STOP_SHUTDOWN_PRESHUTDOWN = 0x105
# What install asks Windows to wait for the service at a shutdown (ms): the
# application's 30 s and the end's report.
PRESHUTDOWN_TIMEOUT = 35000
CONTROL_START, CONTROL_STOP, CONTROL_INTERROGATE = 0, 1, 4
SERVICE_WIN32_OWN_PROCESS = 0x10
SERVICE_AUTO_START = 2
SERVICE_ERROR_NORMAL = 1
REG_SZ, REG_EXPAND_SZ, REG_DWORD = 1, 2, 4
ERROR_FILE_NOT_FOUND = 2
ERROR_MOD_NOT_FOUND = 126
ERROR_SERVICE_REQUEST_TIMEOUT = 1053
ERROR_SERVICE_NOT_ACTIVE = 1062
ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061
ERROR_SERVICE_DOES_NOT_EXIST = 1060
ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063
ERROR_SERVICE_EXISTS = 1073

# ReportEventW's "stub" fixme line opens each event, with its type; its strings
# follow as err lines (an error) or warn lines (a warning).
EVENT_TRACES = "err+eventlog,warn+eventlog,fixme+advapi"
SESSION_WINEDEBUG = f"-all,{EVENT_TRACES},trace+service,+pid"
# The host's own commands and the client run without the service traces; the
# host's events (a dispatcher started from a console) still show on its stderr.
HOST_ENV = {"WINEDEBUG": f"-all,{EVENT_TRACES}"}
CLIENT_ENV = {"WINEDEBUG": "-all"}

_NUMBERS = {"error", "state", "accepted", "exit", "specific", "checkpoint", "wait", "pid", "type", "flags", "os",
            "start", "errorcontrol", "tag", "timeout"}


class ScmClient:
    """scmclient.exe in one session. Each call gives the reply lines as dicts; a
    reply's "error" is the Win32 error code of the call (0: success)."""

    def __init__(self, wine, exe):
        self.wine = wine
        self.exe = exe

    def replies(self, *args, timeout=DEFAULT_TIMEOUT + 30):
        # A client that printed nothing never got to its command (seen once on a
        # loaded machine: Wine ended it with 1 before its first line): run again.
        for _ in range(3):
            proc = self.wine.popen(self.exe, [str(a) for a in args], env_extra=CLIENT_ENV)
            try:
                out, err = proc.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
                raise AssertionError(f"scmclient {args} still running after {timeout} s")
            lines = fold(out.decode("latin-1")).encode("latin-1").splitlines()
            if lines:
                break
        assert proc.returncode in (0, 1) and lines, \
            f"scmclient {args}: exit code {proc.returncode}, {out!r}, {err.decode(errors='replace')!r}"
        return [_parse(line) for line in lines]

    def reply(self, *args, **kwargs):
        (reply,) = self.replies(*args, **kwargs)
        return reply

    def query(self):
        return self.reply("query", SERVICE_NAME)

    def start(self):
        return self.reply("start", SERVICE_NAME)["error"]

    def control(self, *names):
        """One reply per control; several are sent at the same moment."""
        return self.replies("control", SERVICE_NAME, *names)

    def poll(self, state, timeout=DEFAULT_TIMEOUT):
        """The status once the service is in that state, or when time is up."""
        return self.reply("wait", SERVICE_NAME, state, int(timeout * 1000))

    def wait(self, state, timeout=DEFAULT_TIMEOUT):
        """The status once the service is in that state; fails when it is not in time."""
        reply = self.poll(state, timeout)
        assert reply["error"] == 0 and "timeout" not in reply, f"the service never got to state {state}: {reply}"
        return reply

    def config(self):
        return self.reply("config", SERVICE_NAME)

    def preshutdown_timeout(self):
        """The service's preshutdown timeout (ms), or the error code reading it."""
        reply = self.reply("preshutdown", SERVICE_NAME)
        return reply["error"] or reply["timeout"]

    def delete(self):
        return self.reply("delete", SERVICE_NAME)["error"]

    def key_class(self, key):
        """The class of an HKLM key, or the error code opening it (an int)."""
        reply = self.reply("regkey", key)
        return reply["error"] or reply["class"]

    def value(self, key, name):
        """(type, bytes) of an HKLM value, or the error code reading it (an int)."""
        reply = self.reply("regvalue", key, name)
        return reply["error"] or (reply["type"], bytes.fromhex(reply["data"]))

    def set_value(self, key, name, value_type, data):
        assert self.reply("setvalue", key, name, value_type, data.hex() or "-")["error"] == 0

    def delete_keys(self, *keys):
        """Deletes HKLM keys in order; their error codes (0: deleted)."""
        return [reply["error"] for reply in self.replies("deletekey", *keys)]

    def message(self, exe, message_id, *inserts):
        """The text of a message in the file's message table, formatted with the
        inserts, or the error code (an int)."""
        reply = self.reply("message", exe, message_id, *inserts)
        return reply["error"] or reply["text"]

    def system_error_text(self, code):
        """The text the host gives for a system error code: FormatMessage's text
        without its line end, then the code in hexadecimal."""
        reply = self.reply("errtext", code)
        assert reply["error"] == 0, f"FormatMessage knows no text for {code}: {reply}"
        text = reply["text"]
        return (text[:-2] if text.endswith("\r\n") else text) + f" ({code:#x})"

    def delete_file(self, path):
        """DeleteFile of a file, as a Windows program deletes it: the error code."""
        return self.reply("deletefile", win_path(path))["error"]

    def hold(self, path, write=False):
        """A reader that holds the file without sharing deletion, until released;
        with `write` it opened it for writing too."""
        args = ["hold", win_path(path)] + (["write"] if write else [])
        return Holder(self.wine.popen(self.exe, args, env_extra=CLIENT_ENV, stdin=subprocess.PIPE))

    def remove_service(self):
        """Stops and deletes the service if it is installed, and forgets its event source."""
        if self.query()["error"] != ERROR_SERVICE_DOES_NOT_EXIST:
            self.control("stop")
            self.poll(STOPPED)
            self.delete()
            # A deleted service stays until its process has let go of it: until
            # then the next install fails (1072) and queries still find it.
            assert wait_for(lambda: self.query()["error"] == ERROR_SERVICE_DOES_NOT_EXIST), \
                f"the deleted service stays: {self.query()}"
        # The event source's registration, with a subkey a test put below it.
        self.delete_keys(EVENT_SOURCE_KEY + "\\sub", EVENT_SOURCE_KEY)


class Holder:
    """scmclient hold: a reader of a file that does not share deletion."""

    def __init__(self, proc):
        self.proc = proc
        assert proc.stdout.readline().rstrip(b"\r\n") == b"error=0\tstate=held"

    def release(self):
        self.proc.stdin.close()
        assert self.proc.stdout.readline().rstrip(b"\r\n") == b"error=0\tstate=released"
        self.proc.wait(timeout=DEFAULT_TIMEOUT)


def _parse(line):
    fields = {}
    for field in line.split(b"\t"):
        key, _, value = field.partition(b"=")
        key = key.decode()
        text = unescape(value)
        fields[key] = int(text) if key in _NUMBERS else text
    return fields


class ServiceSession:
    """A Wine session for service tests, kept alive by an ordinary process."""

    def __init__(self, root, scm_exe, extra_env=None):
        self.wine = WineSession(root, {"WINEDEBUG": SESSION_WINEDEBUG, **(extra_env or {})})
        self.scm = ScmClient(self.wine, scm_exe)
        self.keep_alive = None

    def start(self):
        self.wine.start()
        self.keep_alive = self.wine.popen(self.scm.exe, ["sleep"], env_extra=CLIENT_ENV)
        # Automatic start: a service a broken run left behind was started by the boot.
        self.scm.remove_service()
        return self

    def stop(self):
        try:
            self.scm.remove_service()
        finally:
            if self.keep_alive is not None:
                self.keep_alive.kill()
                self.keep_alive.wait()
            self.wine.stop()

    def log_mark(self):
        return ServiceLog(self.wine.log)


# ---- the service processes' traces ---------------------------------------------

StatusReport = namedtuple("StatusReport", "type state accepted exit specific checkpoint wait")

_LINE = re.compile(r"^(?:([0-9a-f]+):)?([0-9a-f]+):(\w+):(\w+):(\w+) (.*)$")
_STATUS = re.compile(r"\S+ " + " ".join([r"(0|0x[0-9a-f]+)"] * 7))
_CONTROL = re.compile(r'L"(.*)" control (\d+) ')
_STRING = re.compile(r'L"(.*)"(\.\.\.)?$')
_EVENT_TYPE = re.compile(r"\(\w+,0x([0-9a-f]{4}),")
EVENTLOG_WARNING_TYPE = 2


def _wine_string(text):
    """A string as Wine's debug output writes it (debugstr_w), unescaped; a string
    cut by Wine keeps a visible "..." at its end."""
    match = _STRING.fullmatch(text)
    out, body, i = [], match.group(1), 0
    while i < len(body):
        if body[i] != "\\":
            out.append(body[i])
            i += 1
        elif body[i + 1] in 'nrt"\\':
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(body[i + 1], body[i + 1]))
            i += 2
        else:
            out.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
    return "".join(out) + (match.group(2) or "")


class ProcessTrace:
    """What one service process reported: its status reports, the controls its
    dispatcher handed on (with their codes), its error events and its warning
    events (tuples of strings)."""

    def __init__(self):
        self.reports = []
        self.controls = []
        self.events = []
        self.warnings = []


def parse_traces(text):
    """The traces of the processes in a log text, by process id (hex, or "" when
    the lines carry none)."""
    processes = {}
    open_events = {}
    for line in text.splitlines():
        match = _LINE.match(line)
        if not match:
            continue
        pid, tid, level, channel, function, rest = match.groups()
        pid = pid or ""
        process = processes.setdefault(pid, ProcessTrace())
        if (level, channel, function) == ("trace", "service", "SetServiceStatus"):
            status = _STATUS.fullmatch(rest)
            process.reports.append(StatusReport(*(int(v, 16) for v in status.groups())))
        elif (level, channel, function) == ("trace", "service", "service_handle_control"):
            name, code = _CONTROL.match(rest).groups()
            process.controls.append((name, int(code)))
        elif (level, channel, function) == ("fixme", "advapi", "ReportEventW"):
            open_events[pid, tid] = []
            warning = int(_EVENT_TYPE.match(rest).group(1), 16) == EVENTLOG_WARNING_TYPE
            (process.warnings if warning else process.events).append(open_events[pid, tid])
        elif (level, channel, function) in (("err", "eventlog", "ReportEventW"), ("warn", "eventlog", "ReportEventW")):
            open_events.setdefault((pid, tid), []).append(_wine_string(rest))
    for process in processes.values():
        process.events = [tuple(strings) for strings in process.events]
        process.warnings = [tuple(strings) for strings in process.warnings]
    return processes


class ServiceLog:
    """The part of the session's log written since this mark."""

    def __init__(self, path):
        self.path = Path(path)
        self.offset = self.path.stat().st_size

    def text(self):
        with open(self.path, "rb") as log:
            log.seek(self.offset)
            data = log.read()
        # A line still being written has no line feed yet.
        return data[:data.rfind(b"\n") + 1].decode("utf-8", "replace")

    def host_processes(self):
        """The traces of the service processes started as the host's service."""
        processes = parse_traces(self.text())
        return [trace for trace in processes.values()
                if (SERVICE_NAME, CONTROL_START) in trace.controls]


class ServiceTest:
    """One test's view of a service session: the host's commands run in a folder
    of the test's own (through `host`, a HostRunner), the client, and the log
    written since the test began."""

    def __init__(self, session, host):
        self.scm = session.scm
        self.host = host
        self.log = session.log_mark()

    def command(self, *args, exe=None):
        """Runs the host with these arguments to its end."""
        return self.host.start([*args], env_extra=HOST_ENV, exe=exe).finish()

    def install(self, *options, exe=None):
        return self.command("install", *options, exe=exe)

    def remove(self):
        return self.command("remove")

    def start_service(self):
        """Starts the service through the client: the start's error code, with two
        refusals of Wine's manager that are none of the host's seen through. When
        nothing of ours ran (its 10 s for the first report ran out, or another
        start held the database), the start is tried again. And the manager reads
        the service's state only once the start's answer is in: a service that
        stops at once may have reported STOPPED by then (1053), which its own
        reports show."""
        for _ in range(3):
            error = self.scm.start()
            processes = self.log.host_processes()
            if error == 0 or processes:
                break
            self.scm.poll(STOPPED)
        stopped = bool(processes) and [r.state for r in processes[-1].reports][-1:] == [STOPPED]
        return 0 if error == ERROR_SERVICE_REQUEST_TIMEOUT and stopped else error

    def start(self):
        """Starts the service; its status once it runs."""
        assert self.start_service() == 0
        return self.scm.wait(RUNNING)

    def process(self):
        """The traces of the one service process the test started."""
        processes = self.log.host_processes()
        assert len(processes) == 1, f"{len(processes)} service processes ran:\n{self.log.text()}"
        return processes[0]

    def wait_for_event(self, timeout=DEFAULT_TIMEOUT, index=0):
        """The event the service process wrote at that index (the first by
        default), once it is there."""
        found = wait_for(lambda: [e for p in self.log.host_processes() for e in p.events][index:], timeout)
        assert found, f"the service wrote no event {index}:\n{self.log.text()}"
        return found[0]
