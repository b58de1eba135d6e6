"""The host run as a service by Wine's service control manager, and the
dispatcher started from a console."""

import os
import re
import shutil
import time
from unittest.mock import ANY

import pytest

from realvm import burst_line
from scm import (ACCEPT_STOP_SHUTDOWN_PRESHUTDOWN, CONTROL_INTERROGATE, CONTROL_START, CONTROL_STOP,
                 ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, ERROR_MOD_NOT_FOUND, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                 ERROR_SERVICE_NOT_ACTIVE, OPTIONS_VALUE, PARAMETERS_KEY, REG_EXPAND_SZ, REG_SZ, RUNNING,
                 SERVICE_NAME, SERVICE_WIN32_OWN_PROCESS, START_PENDING, STOP_PENDING, STOPPED, StatusReport,
                 parse_traces)
from winehost import HEAP_WORDS, HOOK_LINES, MAIN_CLASS, RUNTIME_VM, library_path, options_of, start_calls, wait_for

START_WAIT_HINT = 3000
ERROR_SERVICE_SPECIFIC_ERROR = 1066
ERROR_PROCESS_ABORTED = 1067
VM_WORDS = (f"{SERVICE_NAME} : Java VM", "\n".join(HEAP_WORDS) + "\n")
# A stop waits for a main that blocks this long (ms); longer than a control's round trip.
SLOW_MAIN = 3000


def report(state, checkpoint=0, wait=0, exit=0, accepted=ANY, specific=0):
    return StatusReport(SERVICE_WIN32_OWN_PROCESS, state, accepted, exit, specific, checkpoint, wait)


# The start as the service control manager sees it: nothing accepted until RUNNING.
START_REPORTS = [report(START_PENDING, 1, START_WAIT_HINT, accepted=0),
                 report(START_PENDING, 2, START_WAIT_HINT, accepted=0),
                 report(RUNNING, accepted=ACCEPT_STOP_SHUTDOWN_PRESHUTDOWN)]


# The output log: the host's lines have the local time; the VM's come as written.
HOST_LINE = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) (.*)\r")
LOG_START = "host: Ostrel Server starts."
# A stop's first line, then what the application's end prints: the test VM's shutdown hooks.
LOG_STOPPING = "host: Ostrel Server is stopping."
STOP_LOG = [LOG_STOPPING, *HOOK_LINES]
REFUSED = "host: The application refused to end: System.exit(0) failed."
# The test VM's "streams" lines: the standard output handle, msvcrt's buffered
# stderr, the hook, descriptor 1 with Java's CR LF (kept as written).
VM_STREAMS = ["testvm: standard output handle", "testvm: fprintf(stderr)", "testvm: vfprintf hook",
              "testvm: descriptor 1\r"]
MiB = 1 << 20


def log_lines(workdir):
    """The output log (or a generation of it) line by line, the host's own as
    "host: <text>"."""
    path = workdir.output_log if hasattr(workdir, "output_log") else workdir
    text = path.read_bytes().decode("utf-8", "replace")
    assert text.endswith("\n"), text[-300:]
    lines = []
    for line in text[:-1].split("\n"):
        match = HOST_LINE.fullmatch(line)
        if match:
            time.strptime(match.group(1), "%Y-%m-%d %H:%M:%S")
        lines.append("host: " + match.group(2) if match else line)
    return lines


def stop_line(exit, specific=0):
    codes = f"{exit}, {specific}" if exit == ERROR_SERVICE_SPECIFIC_ERROR else f"{exit}"
    return f"host: Ostrel Server stopped (exit code {codes})."


def install_entries(service, *entries):
    """Installs the service with these launch entries, stored as one "|"-separated value."""
    result = service.install("|".join(entries))
    assert result.stdout == "Ostrel Server is installed.\n", result


def signed(code):
    return code - (1 << 32) if code >= 1 << 31 else code


def event_code(event):
    """The error code an event gives in its first string."""
    prefix = f"{SERVICE_NAME} : ERROR : "
    assert len(event) == 2 and event[0].startswith(prefix), event
    return int(event[0][len(prefix):])


@pytest.mark.i686
def test_service_runs_the_application_until_stopped(service):
    workdir = service.host.workdir({"main_says": "testvm: main speaks"})
    options = ["-Dsvc=1", "/Dslash=2", "-Xmx32m"]
    arguments = ["first", "second arg", 'say "hi"', "-", "x\\y"]
    # Empty entries are dropped; the working directory may come anywhere.
    install_entries(service, options[0], "", arguments[0], workdir.entry, options[1], arguments[1], "",
                    arguments[2], options[2], arguments[3], arguments[4], "")

    status = service.start()
    transcript = workdir.wait_for_event("main-returned")

    assert status["accepted"] == ACCEPT_STOP_SHUTDOWN_PRESHUTDOWN
    assert options_of(transcript) == options
    assert transcript.jni() == start_calls(arguments)
    assert transcript.main_args() == arguments
    assert transcript.events("cwd") == [(workdir.win, workdir.win)]

    # What main left in msvcrt's buffer reaches the log while the service runs.
    assert wait_for(lambda: b"testvm: main speaks" in workdir.output_log.read_bytes(), 5)
    interrogated = service.scm.control("interrogate")
    assert [(r["error"], r["state"], r["checkpoint"]) for r in interrogated] == [(0, RUNNING, 0)]
    assert service.scm.control("stop")[0]["error"] == 0
    stopped = service.scm.wait(STOPPED)
    assert (stopped["exit"], stopped["specific"]) == (0, 0)

    process = service.process()
    assert process.reports == START_REPORTS + [report(RUNNING, accepted=ACCEPT_STOP_SHUTDOWN_PRESHUTDOWN),
                                               report(STOP_PENDING, 3), report(STOPPED)]
    assert process.controls == [(SERVICE_NAME, CONTROL_START), (SERVICE_NAME, CONTROL_INTERROGATE),
                                (SERVICE_NAME, CONTROL_STOP)]
    assert process.events == []
    assert not workdir.transcript().has("unload"), "the VM library was unloaded under its threads"
    assert workdir.transcript().events("system-exit") == [("0",)]
    assert log_lines(workdir) == [LOG_START, "testvm: main speaks", *STOP_LOG, stop_line(0)]


# code: the failure's own code (ERROR_FILE_NOT_FOUND, ERROR_EXCEPTION_IN_SERVICE,
# ERROR_BAD_ARGUMENTS), whatever the thread's last error was; None: the VM's.
@pytest.mark.parametrize("scenario, entries, message, code", [
    ({"missing_class": MAIN_CLASS}, [], "Cannot find main class.", 2),
    ({"create_result": -1, "say": HEAP_WORDS}, [], "Cannot create Java VM.", None),
    # What main printed just before it threw stands before the host's line.
    ({"main": "throw", "main_says": "testvm: main speaks"}, [], "Exception in main method.", 1064),
    ({}, [f"-Dopt{i}" for i in range(21)], "Max. number of Java args exceeded.", 160),
    ({"missing_method": "main"}, [], "Cannot find main method.", 127),
    ({"oom_array": 1}, [], "Out of Memory!", 8),
], ids=["main-class-missing", "creation-fails", "main-throws", "21-vm-options", "main-method-missing",
        "no-memory-for-the-arguments"])
def test_start_failure_is_logged_and_the_service_runs_until_stopped(service, scenario, entries, message, code):
    workdir = service.host.workdir(scenario)
    install_entries(service, workdir.entry, *entries)
    service.start()

    # The VM's own words, when it said any, come first.
    words = [VM_WORDS] if "say" in scenario else []
    event = service.wait_for_event(index=len(words))
    assert event[1] == message
    code = code or event_code(event)
    assert event_code(event) == code != 0
    assert service.scm.query()["state"] == RUNNING
    assert service.scm.control("stop")[0]["error"] == 0
    stopped = service.scm.wait(STOPPED)

    # The stop reports the code of the failure, as the event gave it.
    assert signed(stopped["exit"]) == code
    lines = log_lines(workdir)
    if "main_says" in scenario:
        assert lines.index(scenario["main_says"]) < lines.index(f"host: ERROR {code}: {message}"), lines
    process = service.process()
    assert process.reports == START_REPORTS + [report(STOP_PENDING, 3), report(STOPPED, exit=stopped["exit"])]
    assert process.events == words + [event]


def test_service_without_working_directory_stops_at_once(service):
    install_entries(service, "-Dx=1", "arg")
    assert service.start_service() == 0
    stopped = service.scm.wait(STOPPED)

    assert stopped["exit"] == ERROR_MOD_NOT_FOUND
    process = service.process()
    assert process.events == [(f"{SERVICE_NAME} : ERROR : {ERROR_MOD_NOT_FOUND}",
                               f'Cannot load Java VM library "{library_path("(null)")}".')]
    # No stop was asked for: no STOP_PENDING.
    assert process.reports == START_REPORTS + [report(STOPPED, exit=ERROR_MOD_NOT_FOUND)]


# Each stop ends in STOPPED with exit code 0, reported once and last; a control
# that meets the stop already under way is refused by the service manager.
@pytest.mark.parametrize("scenario, started, controls", [
    ({}, None, ["stop-asap"]),
    ({"main": f"block:{SLOW_MAIN}"}, "app-threads", ["stop"]),
    ({"main": f"block:{SLOW_MAIN}"}, "app-threads", ["stop", "stop"]),
    ({}, "main-returned", ["stop", "stop"]),
    # The run waits for the thread that ends the application while main runs.
    ({"main": "block:500", "exit_hooks": 2000}, "app-threads", ["stop"]),
], ids=["right-after-start", "during-slow-main", "twice-during-slow-main", "twice", "hooks-outlast-main"])
def test_stop_ends_the_service_whenever_it_comes(service, scenario, started, controls):
    workdir = service.host.workdir(scenario)
    install_entries(service, workdir.entry, "arg")
    assert service.start_service() == 0
    if started:
        service.scm.wait(RUNNING)
        workdir.wait_for_event(started)

    results = [r["error"] for r in service.scm.control(*controls)]
    stopped = service.scm.wait(STOPPED, timeout=SLOW_MAIN / 1000 + 15)

    assert 0 in results and set(results) <= {0, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ERROR_SERVICE_NOT_ACTIVE}, results
    assert stopped["exit"] == 0
    reports = service.process().reports
    assert reports[:3] == START_REPORTS
    assert reports[-1] == report(STOPPED)
    # Between them only the stop in progress, with growing checkpoints.
    between = reports[3:-1]
    assert [r.state for r in between] == [STOP_PENDING] * len(between) and between, reports
    assert [r.checkpoint for r in between] == list(range(3, 3 + len(between))), reports
    if started:
        # The application ended, also while its main still ran.
        assert workdir.transcript().events("system-exit") == [("0",)]
    if "exit_hooks" in scenario:
        assert log_lines(workdir)[-3:] == [*HOOK_LINES, stop_line(0)]


# A stop ends the application as Java ends: System.exit(0) runs its shutdown
# hooks (the test VM's take the time asked) while STOP_PENDING advances each
# second, then the VM's exit hook reports STOPPED. An application that refuses
# ends as a stop without Java does; a hook's Runtime.halt(n) keeps its code.
@pytest.mark.parametrize("scenario, log, exit, specific, progress", [
    ({"exit_hooks": 2500}, HOOK_LINES, 0, 0, 2),
    pytest.param({"exit_refuse": 1}, ['Exception in thread "main" java.lang.SecurityException\r', REFUSED], 0, 0, 0,
                 marks=pytest.mark.i686),
    ({"exit_halt": 4}, [*HOOK_LINES, "host: ERROR 1066: Java VM exited with code 4."], 1066, 4, 0),
], ids=["slow-hooks", "refused", "halt"])
def test_stop_ends_the_application_as_java_ends(service, scenario, log, exit, specific, progress):
    workdir = service.host.workdir(scenario)
    install_entries(service, workdir.entry)
    service.start()
    workdir.wait_for_event("main-returned")
    assert service.scm.control("stop")[0]["error"] == 0
    stopped = service.scm.wait(STOPPED)

    assert (stopped["exit"], stopped["specific"]) == (exit, specific)
    process = service.process()
    pending = [report(STOP_PENDING, 4 + i, 3000) for i in range(progress)]
    assert process.reports == START_REPORTS + [report(STOP_PENDING, 3), *pending,
                                               report(STOPPED, exit=exit, specific=specific)]
    assert process.events == ([(f"{SERVICE_NAME} : ERROR : 1066", "Java VM exited with code 4.")] if exit else [])
    assert log_lines(workdir) == [LOG_START, LOG_STOPPING, *log, stop_line(exit, specific)]


def test_longest_stored_options_reach_the_application_whole(service):
    workdir = service.host.workdir()
    head = f"{workdir.entry}|-Dlast="
    argument = "".ljust(2047 - len(head) - len("|"), "a")
    install_entries(service, f"{head}|{argument}")
    # 2047 characters and the terminator: the most the service reads.
    assert len(service.scm.value(PARAMETERS_KEY, OPTIONS_VALUE)[1]) == 2048

    service.start()
    transcript = workdir.wait_for_event("main-returned")
    assert options_of(transcript) == ["-Dlast="]
    assert transcript.main_args() == [argument]


def test_expandable_stored_options_are_taken_as_they_are(service):
    workdir = service.host.workdir()
    install_entries(service)
    value = f"{workdir.entry}|%SystemRoot%|-Dpath=%PATH%|%1"
    service.scm.set_value(PARAMETERS_KEY, OPTIONS_VALUE, REG_EXPAND_SZ, value.encode() + b"\0")

    service.start()
    transcript = workdir.wait_for_event("main-returned")
    assert options_of(transcript) == ["-Dpath=%PATH%"]
    assert transcript.main_args() == ["%SystemRoot%", "%1"]


def test_double_byte_entries_reach_the_application_intact(cp932_service):
    """In code page 932, "ポ" is 0x83 0x7C and "表" 0x95 0x5C: the trail bytes are
    "|" and "\\", and neither may split an entry or end a path."""
    service = cp932_service
    workdir = service.host.workdir(name="wd-ポ表")
    # The last entry ends in a trail byte "|" followed by a real one.
    value = f"{workdir.entry}|-Dname=ポ|ポ||aポb|表ポ|"
    install_entries(service, value)
    assert service.scm.value(PARAMETERS_KEY, OPTIONS_VALUE) == (REG_SZ, value.encode("cp932") + b"\0")

    service.start()
    transcript = workdir.wait_for_event("main-returned")

    assert transcript.main_args() == ["ポ", "aポb", "表ポ"]
    # Options travel as the code page's bytes, exactly as stored.
    assert options_of(transcript) == ["-Dname=ポ".encode("cp932").decode("utf-8", "surrogateescape")]
    assert transcript.events("cwd") == [(workdir.win, workdir.win)]


def test_dispatcher_started_from_a_console_fails(service):
    # The manager turns a dispatcher down at once only when the service it started
    # last has ended (else after 10 s), and the boot's own services still run:
    # one of ours that ends at once comes first.
    install_entries(service, "arg")
    assert service.start_service() == 0
    service.scm.wait(STOPPED)
    assert service.remove().stdout == "Ostrel Server is removed.\n"

    result = service.command()

    assert result.returncode == 1, result
    assert result.stdout == "ERROR : StartServiceCtrlDispatcher\n"
    events = [event for process in parse_traces(result.stderr).values() for event in process.events]
    assert len(events) == 1, result
    assert event_code(events[0]) == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT



# The VM ends the process itself, without a stop control: the service says why,
# its own words first, and stops with the VM's code instead of vanishing
# ("event": the code of the host's event). The output log tells the same: after
# the start, what the VM wrote each of its ways, the host's errors, the stop.
# "words": the event of what the VM said through its hook, its stream line first.
@pytest.mark.parametrize("scenario, events, exit, specific", [
    ({"say": HEAP_WORDS, "create_abort": 1}, ["words", "Cannot create Java VM."], ERROR_PROCESS_ABORTED, 0),
    ({"say": HEAP_WORDS, "create_exit": 5}, ["words", "Cannot create Java VM."], ERROR_SERVICE_SPECIFIC_ERROR, 5),
    ({"create_exit": 0}, ["words", "Cannot create Java VM."], ERROR_SERVICE_SPECIFIC_ERROR, 0),
    ({"app_exit": "3:300"}, ["words", "Java VM exited with code 3."], ERROR_SERVICE_SPECIFIC_ERROR, 3),
    ({"app_exit": "0:300"}, [], 0, 0),
    # System.exit(0) keeps the code of an error reported before it.
    ({"main": "throw", "app_exit": "0:300"}, ["Exception in main method."], "event", 0),
    ({"say": HEAP_WORDS, "app_abort": 300}, ["words", "Java VM aborted."], ERROR_PROCESS_ABORTED, 0),
    # The C runtime's exit, with text still in the buffer of its stdout: the
    # process ends, and the text is in the log.
    ({"crt_exit": "3:300"}, ["The application ended the process through the C runtime's exit."],
     ERROR_PROCESS_ABORTED, 0),
    # The runtime's own C library has an exit and an atexit table of its own.
    ({"vm": RUNTIME_VM, "runtime_exit": "3:300"},
     ["The application ended the process through the C runtime's exit."], ERROR_PROCESS_ABORTED, 0),
], ids=["abort-during-creation", "exit-during-creation", "exit-0-during-creation", "exit-3", "exit-0",
        "exit-0-after-an-error", "abort", "c-runtime-exit", "runtime-library-exit"])
def test_vm_end_stops_the_service_with_its_code(service, scenario, events, exit, specific):
    scenario = dict(scenario)
    vm = scenario.pop("vm", "jvm.dll")
    workdir = service.host.workdir({"streams": 1, **scenario}, vm=vm)
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    stopped = service.scm.wait(STOPPED)

    process = service.process()
    errors = [e for e in process.events if e[0] != VM_WORDS[0]]
    if exit == "event":
        exit = event_code(errors[0]) & 0xFFFFFFFF
    assert (stopped["exit"], stopped["specific"]) == (exit, specific)
    assert process.controls == [(SERVICE_NAME, CONTROL_START)]
    assert process.reports == START_REPORTS + [report(STOPPED, exit=exit, specific=specific)]
    words = (VM_WORDS[0], "".join(line + "\n" for line in [VM_STREAMS[2], *scenario.get("say", [])]))
    assert [e if e[0] == VM_WORDS[0] else e[1] for e in process.events] == [
        words if e == "words" else e for e in events]
    hooks = workdir.transcript().events("hook")
    assert [name for _, name, _ in hooks] == ["vfprintf", "exit", "abort"]
    described = ['Exception in thread "main" java.lang.RuntimeException\r'] if "main" in scenario else []
    described += ["testvm: buffered at exit"] if "crt_exit" in scenario else []
    streams = VM_STREAMS[:3] + ["testvm: runtime C library"] * (vm == RUNTIME_VM) + VM_STREAMS[3:]
    assert log_lines(workdir) == [LOG_START, *streams, *scenario.get("say", []), *described,
                                  *(f"host: ERROR {event_code(e)}: {e[1]}" for e in errors), stop_line(exit, specific)]


# The log as it was before the start: a log of 10 MiB or more makes way for a new
# one, the older ones move up and the oldest (".5") is dropped; a folder of that
# name keeps the service from having a log, which it says in a warning, and it
# runs all the same.
@pytest.mark.parametrize("before", [10 * MiB, 10 * MiB - 1024, "a folder"], ids=["10-MiB", "just-under", "a-folder"])
def test_output_log_is_rotated_at_the_start(service, before):
    workdir = service.host.workdir({"streams": 1, "app_exit": "0:300"})
    generations = [workdir.path / f"OstrelServer.log.{n}" for n in range(1, 6)]
    for n, generation in enumerate(generations, 1):
        generation.write_bytes(b"generation %d\n" % n)
    old = generations[0]
    if before == "a folder":
        workdir.output_log.mkdir()
    else:
        workdir.output_log.write_bytes(b"x" * (before - 1) + b"\n")
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    stopped = service.scm.wait(STOPPED)

    assert (stopped["exit"], stopped["specific"]) == (0, 0)
    process = service.process()
    assert process.events == []
    new_log = [LOG_START, *VM_STREAMS, stop_line(0)]
    shifted = before == 10 * MiB
    assert [g.read_bytes() for g in generations[1:]] == [b"generation %d\n" % n for n in range(2 - shifted, 6 - shifted)]
    assert sorted(p.name for p in workdir.path.glob("OstrelServer.log*")) == \
        ["OstrelServer.log"] + [g.name for g in generations], "five generations and nothing else"
    if before == "a folder":
        assert process.warnings == [(f"{SERVICE_NAME} : WARNING : 5",
                                     f'Cannot open the output log "{workdir.win}\\OstrelServer.log".')]
        assert old.read_bytes() == b"generation 1\n"
    elif shifted:
        assert process.warnings == []
        assert old.stat().st_size == before and old.open("rb").read(16) == b"x" * 16
        assert log_lines(workdir) == new_log
    else:
        assert process.warnings == [] and old.read_bytes() == b"generation 1\n"
        assert log_lines(workdir) == ["x" * (before - 1)] + new_log


def test_service_loads_a_runtime_that_brings_its_own_c_library(service):
    """The runtime's C library binds its standard output when it loads: the log
    is in place before, and what the VM writes through that library is in it."""
    workdir = service.host.workdir({"streams": 1}, vm=RUNTIME_VM)
    install_entries(service, workdir.entry, "arg")
    service.start()
    transcript = workdir.wait_for_event("main-returned")
    assert transcript.events("runtime") == [("71",)]
    assert service.scm.control("stop")[0]["error"] == 0
    assert service.scm.wait(STOPPED)["exit"] == 0
    assert "testvm: runtime C library" in log_lines(workdir)


@pytest.mark.i686
def test_standard_output_and_error_reach_the_log_whole(service):
    """Lines that two threads print at once, one on stdout and one on stderr,
    stand whole (the streams are buffered, or msvcrt writes each piece of a
    printf on its own); no handle of the log is one a child would inherit; and
    descriptor 1 still leads to the log after the application closed its
    standard output handle."""
    workdir = service.host.workdir({"handles": 1, "printf_chatter": "2:300", "close_stdout": 1, "app_exit": "0:300"})
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    assert service.scm.wait(STOPPED)["exit"] == 0

    assert workdir.transcript().events("handles") == [("private",) * 6 + ("own",)]
    lines = log_lines(workdir)
    chatter = [line for line in lines if line.startswith("printf")]
    assert sorted(chatter) == sorted(f"printf {t} line {k} {'x' * 40}" for t in range(2) for k in range(300))
    assert "testvm: descriptor 1 after its handle closed" in lines
    assert lines[0] == LOG_START and lines[-1] == stop_line(0)


def burst_lines(i, size):
    """The lines of burst i of `size` bytes: as many 100-byte lines as make it."""
    return [burst_line(i, k)[:-1] for k in range(-(-size // 100))]


# A burst of output while the service runs: every line once, whole and in
# order, across a rotation at 10 MiB (after the end of a line), between the
# start line and the stop line, also when the VM ends right after it.
@pytest.mark.parametrize("scenario, size, stop", [
    ({"burst": f"{12 * MiB}:stderr:1"}, 12 * MiB, True),
    ({"burst": f"{2 * MiB}:stderr:100", "burst_exit": 0}, 2 * MiB, False),
], ids=["12-MiB-rotated", "vm-exit-right-after"])
def test_output_log_takes_a_burst_whole(service, scenario, size, stop):
    workdir = service.host.workdir(scenario)
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    if stop:
        workdir.wait_for_event("burst-done", timeout=120)
        assert service.scm.control("stop")[0]["error"] == 0
    assert service.scm.wait(STOPPED, timeout=120)["exit"] == 0

    old = workdir.path / "OstrelServer.log.1"
    assert old.exists() == stop
    if stop:
        assert 10 * MiB <= old.stat().st_size < 10 * MiB + 200
        assert old.read_bytes().endswith(b"\n")
    lines = (log_lines(workdir.path / "OstrelServer.log.1") if stop else []) + log_lines(workdir)
    assert [line for line in lines if line.startswith("burst")] == burst_lines(0, size)
    assert lines[0] == LOG_START and lines[-1] == stop_line(0)


def test_a_reader_that_holds_the_log_puts_its_rotation_off(service):
    """A reader that does not share deletion keeps the log from being renamed:
    it grows past 10 MiB, and rotates at the next MiB once the reader let go."""
    workdir = service.host.workdir({"burst": [f"{MiB * 5 // 2}:handle:100", f"{MiB * 3 // 2}:handle:100:go"]})
    workdir.output_log.write_bytes(b"y" * (9 * MiB - 1) + b"\n")
    for n in (1, 2):
        (workdir.path / f"OstrelServer.log.{n}").write_bytes(b"generation %d\n" % n)
    # A reader may hold it for writing too: the host shares writing.
    holder = service.scm.hold(workdir.output_log, write=True)
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    workdir.wait_for_event("burst-done", timeout=120)
    assert (workdir.path / "OstrelServer.log.1").read_bytes() == b"generation 1\n"
    holder.release()
    (workdir.vm_dir / "go").touch()
    assert wait_for(lambda: len(workdir.transcript().events("burst-done")) == 2, 120)
    assert service.scm.control("stop")[0]["error"] == 0
    service.scm.wait(STOPPED)

    old = workdir.path / "OstrelServer.log.1"
    assert 12 * MiB <= old.stat().st_size < 12 * MiB + 200
    lines = log_lines(old) + log_lines(workdir)
    assert [line for line in lines if line.startswith("burst")] == burst_lines(0, MiB * 5 // 2) + burst_lines(1, MiB * 3 // 2)
    # The refused tries shifted nothing: the older generations moved up once.
    assert [(workdir.path / f"OstrelServer.log.{n}").read_bytes() for n in (2, 3)] == [b"generation 1\n",
                                                                                       b"generation 2\n"]
    assert not (workdir.path / "OstrelServer.log.4").exists()


# A reader that holds a generation without sharing deletion stops the shift
# where it meets it; the log grows on, and once the reader lets go the shift
# ends (here at the stop): every line is still somewhere, only the oldest
# generation is dropped, and nothing waits as .0.
@pytest.mark.parametrize("held", [1, 5])
def test_a_reader_that_holds_a_generation_loses_no_line(service, held):
    size = 21 * MiB
    workdir = service.host.workdir({"burst": f"{size}:stderr:1"})
    for n in range(1, 6):
        (workdir.path / f"OstrelServer.log.{n}").write_bytes(b"generation %d\n" % n)
    holder = service.scm.hold(workdir.path / f"OstrelServer.log.{held}")
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    workdir.wait_for_event("burst-done", timeout=120)
    holder.release()
    assert service.scm.control("stop")[0]["error"] == 0
    service.scm.wait(STOPPED)

    names = sorted(p.name for p in workdir.path.glob("OstrelServer.log*"))
    assert names == ["OstrelServer.log"] + [f"OstrelServer.log.{n}" for n in range(1, 6)]
    assert [(workdir.path / f"OstrelServer.log.{n}").read_bytes() for n in range(2, 6)] == \
        [b"generation %d\n" % n for n in range(1, 5)]
    lines = log_lines(workdir.path / "OstrelServer.log.1") + log_lines(workdir)
    assert [line for line in lines if line.startswith("burst")] == burst_lines(0, size)
    assert lines[-1] == stop_line(0)


def test_the_end_leaves_no_writer_waiting(service):
    """The C runtime's exit while a thread writes through msvcrt's stderr: after
    the stop line the pipe is closed, so the writer's next write fails instead
    of waiting, with the stream's lock held, for a reader that is gone, and
    the exit's own flush can have that lock: the process ends."""
    workdir = service.host.workdir({"burst": f"{1024 * MiB}:stderr:1", "crt_exit": "3:500"})
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    assert service.scm.wait(STOPPED, timeout=30)["exit"] == ERROR_PROCESS_ABORTED
    # A process that does not end (a zombie whose threads wait) keeps its deleted service.
    service.scm.remove_service()
    assert log_lines(workdir)[-1] == stop_line(ERROR_PROCESS_ABORTED)


def test_a_line_is_never_cut_at_a_rotation(service):
    """A line whose first part crosses 10 MiB and whose end comes more than a
    second later stays whole in the rotated log."""
    workdir = service.host.workdir({"split_line": 1200})
    workdir.output_log.write_bytes(b"y" * (10 * MiB - 60) + b"\n")  # the start line takes it to 16 bytes short
    install_entries(service, workdir.entry)
    service.start()
    workdir.wait_for_event("main-returned")
    assert service.scm.control("stop")[0]["error"] == 0
    service.scm.wait(STOPPED)
    old = workdir.path / "OstrelServer.log.1"
    assert old.read_bytes().endswith(b"\ntestvm: a line begun and ended\n")
    assert log_lines(workdir) == [*STOP_LOG, stop_line(0)]


def test_a_log_deleted_while_the_service_runs_begins_again(service):
    workdir = service.host.workdir({"burst": "10000:handle:10:go"})
    install_entries(service, workdir.entry)
    service.start()
    workdir.wait_for_event("main-returned")
    # A program deletes it as Windows lets it: the service shares deletion.
    assert service.scm.delete_file(workdir.output_log) == 0
    time.sleep(1.2)  # the logger looks for its file at a write a second after the last look
    (workdir.vm_dir / "go").touch()
    workdir.wait_for_event("burst-done")
    assert service.scm.control("stop")[0]["error"] == 0
    service.scm.wait(STOPPED)
    assert log_lines(workdir) == [*burst_lines(0, 10000), *STOP_LOG, stop_line(0)]


def test_a_log_that_stalls_holds_nothing_up(service):
    """A log whose writes never end (a FIFO nobody reads, as a share that hangs):
    after a second without room the output is dropped, so the application's
    burst runs to its end, and the stop reports STOPPED within its bound."""
    workdir = service.host.workdir({"burst": f"{3 * MiB}:handle:100"})
    os.mkfifo(workdir.output_log)
    install_entries(service, workdir.entry)
    assert service.start_service() == 0
    workdir.wait_for_event("burst-done", timeout=60)
    assert service.scm.control("stop")[0]["error"] == 0
    assert service.scm.wait(STOPPED)["exit"] == 0


# A folder named like a device ("aux") is a folder all the same.
@pytest.mark.parametrize("name", ["wd", "aux"])
def test_relative_workdir_is_below_the_executables_folder(service, name):
    """A service starts in the system directory, which no administrator means:
    a relative working directory is the executable's folder's, and becomes the
    application's current directory."""
    workdir = service.host.workdir(vm=RUNTIME_VM, name="app/" + name)
    exe = shutil.copy(service.host.exe, workdir.path.parent)
    assert service.install(f"wrkdir={name}|arg", exe=exe).stdout == "Ostrel Server is installed.\n"
    service.start()
    transcript = workdir.wait_for_event("main-returned")
    assert transcript.events("runtime") == [("71",)]
    assert transcript.events("cwd") == [(workdir.win, workdir.win)]
    assert transcript.main_args() == ["arg"]
    assert service.scm.control("stop")[0]["error"] == 0
    assert service.scm.wait(STOPPED)["exit"] == 0
    assert log_lines(workdir) == [LOG_START, *STOP_LOG, stop_line(0)]
