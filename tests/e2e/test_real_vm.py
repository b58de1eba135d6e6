"""Real Java code inside the host: the test application (tests/javaapp) on the
real Java VM (Avian, realvm.py), in a console and as a service, under Wine.

The test connects to the application's server from Linux: its answer proves
that the Java code runs inside the host's process, with the arguments, system
properties and working directory the host gave it. Stopping the host must close
the port and end the process.
"""

import time
from collections import namedtuple

import pytest

from realvm import CLASSES, HOOK_LINES, PORT_PROPERTY, SERVER_THREAD, JavaApp, burst_line, code_points, wait_gone
from scm import RUNNING, STOP_PENDING, STOPPED
from test_service import LOG_START, LOG_STOPPING, event_code, install_entries, log_lines, signed, stop_line
from winehost import DEFAULT_TIMEOUT, EXE_NAME, MACHINE, wait_for, win_path

pytestmark = pytest.mark.usefixtures("real_vm")

ERROR_SERVICE_SPECIFIC_ERROR = 1066
# The VM's word for the build's machine: the i686 build runs a 32-bit VM.
OS_ARCH = {"i686": "x86", "x86_64": "x86_64"}[MACHINE]

BANNER = "Running Ostrel Server."
ANSWERED = "FileServer: answered a client"
# The host registers its console handler right after main returns; nothing measures it.
SETTLE = 0.5
SLOW_MAIN = "block:20000"
THROWN = ("java/lang/IllegalStateException: main throws, as asked",
          "  at vantor/str/diskarray/rmi/FileServer.main")
# Eighteen properties besides the class path and the port: 20 VM options, the most
# the host passes. The VM reads option strings as UTF-8, not in the ANSI code page
# as a Windows VM should, so their values stay ASCII.
PROPERTIES = {f"fileserver.p{i:02}": value for i, value in enumerate(
    ["plain", "with blank", "", "a=b", "x|y", 'say "hi"', "C:\\dir\\", "%PATH%", "-Dnot.an.option"]
    + [f"value {i}" for i in range(9, 18)])}

# args: the application's arguments; locale: LC_ALL of the host (None: as the
# session has it); workdir: the working directory's name.
Arguments = namedtuple("Arguments", "args locale workdir")
ARGUMENTS = {
    "ascii": Arguments(["first", "second arg", 'say "hi"', "", "x\\y", "-", "-dlower"], None, "wd"),
    # 0xE9, 0x80 (U+20AC, not U+0080): the ANSI code page's characters, not its bytes.
    "cp1252": Arguments(["é", "€", "naïve"], "C.UTF-8", "wd-é"),
    # 0x83 0x7C and 0x95 0x5C: trail bytes "|" and "\" (the directory name ends in one).
    "cp932": Arguments(["ポ", "表", "ｱ", "aポb"], "ja_JP.UTF-8", "wd-ポ表"),
}

# main: how the application's main behaves; properties: extra -D options it reads
# back; host: the host's own line after the application's; answers: whether its
# server runs (without the main class it never does).
Console = namedtuple("Console", "arguments main properties class_path host answers hook", defaults=(
    "ascii", None, {}, True, None, True, None))


@pytest.mark.parametrize("case", [
    pytest.param(Console("ascii"), id="arguments", marks=pytest.mark.i686),
    pytest.param(Console("cp1252"), id="cp1252-arguments"),
    pytest.param(Console("cp932"), id="cp932-arguments"),
    pytest.param(Console(properties=PROPERTIES), id="twenty-vm-options"),
    pytest.param(Console(main="throw", host="Exception in main method."), id="main-throws"),
    pytest.param(Console(class_path=False, host="Cannot find main class.", answers=False),
                 id="main-class-missing"),
    # No handler of the host yet, and the VM has none: Wine's default one ends the process.
    pytest.param(Console(main=SLOW_MAIN), id="ctrl-c-during-slow-main"),
    # The application ends as Java ends: its shutdown hook runs.
    pytest.param(Console(hook="0"), id="ctrl-c-runs-the-hook"),
])
def test_java_application_runs_in_the_console_until_ctrl_c(host, case):
    args, locale, name = ARGUMENTS[case.arguments]
    app = JavaApp.install(host.folder / name)
    entries = app.entries(*args, main=case.main, class_path=case.class_path, hook=case.hook)
    entries[1:1] = [f"-D{key}={value}" for key, value in case.properties.items()]
    assert not case.properties or len(entries) - 1 - len(args) == 20

    run = host.start(["execute", *entries], env_extra={"LC_ALL": locale} if locale else None)
    expected = [BANNER] + (app.lines(args, case.main) if case.answers else []) + (
        [case.host] if case.host else [])
    run.wait_for_output(expected[-1] + "\n")
    if case.answers:
        names = [PORT_PROPERTY, "java.class.path", "os.arch", *case.properties]
        answer = app.ask(*names)
        expected.append(ANSWERED)
        assert answer["args"] == [code_points(arg) for arg in args]
        assert answer["cwd"] == app.workdir.win
        assert answer["properties"] == {PORT_PROPERTY: str(app.port), "java.class.path": win_path(CLASSES),
                                        "os.arch": OS_ARCH, **case.properties}
        assert SERVER_THREAD in answer["threads"], answer
    else:
        assert not app.listening()
    time.sleep(SETTLE)
    assert run.alive(), f"the host ended on its own: {run.finish()!r}"
    run.interrupt()
    result = run.finish()
    if case.hook is not None:
        expected += HOOK_LINES
        assert app.hook_ran()

    app.assert_closed()
    assert result.returncode == 0, result
    assert result.stdout == "".join(line + "\n" for line in expected), result
    if case.main == "throw":
        assert all(line in result.stderr for line in THROWN), result
    else:
        assert result.stderr == "", result


# session: the service session's fixture; stop: whether the test stops the
# service; exit: the (win32, specific) exit codes of STOPPED; event: the host's
# error event; vm: the runtime's folder of the VM; hook: the time the
# application's shutdown hook takes ("forever": the bound cuts it); classes:
# the class path's folder (None: the application's own).
Service = namedtuple("Service", "arguments session main stop exit event vm hook classes", defaults=(
    "ascii", "service", None, True, (0, 0), None, "client", None, None))
TIMED_OUT = "host: The application did not end within 30 seconds."
THREAD_THROWN = ("java/lang/IllegalStateException: a thread throws, as asked",
                 "  at vantor/str/diskarray/rmi/FileServer$")


@pytest.mark.parametrize("case", [
    pytest.param(Service(), id="arguments", marks=pytest.mark.i686),
    pytest.param(Service("cp932", "cp932_service"), id="cp932-arguments"),
    # A failure the VM reports has a code of its own (ERROR_EXCEPTION_IN_SERVICE,
    # ERROR_FILE_NOT_FOUND), whatever the thread's last error says.
    pytest.param(Service(main="throw", exit=(1064, 0), event="Exception in main method."), id="main-throws"),
    pytest.param(Service(classes="missing", exit=(2, 0), event="Cannot find main class."), id="main-class-missing"),
    # The VM's own end: the host hears it through the "exit" hook and reports it.
    pytest.param(Service(main="exit:3:2000", stop=False, exit=(ERROR_SERVICE_SPECIFIC_ERROR, 3)),
                 id="system-exit-3"),
    # What only the server VM of a runtime has: the host takes it.
    pytest.param(Service(vm="server"), id="server-vm"),
    # System.err, and what the VM prints of an exception that ends a thread.
    pytest.param(Service(main="thread-throws"), id="thread-throws"),
    # A stop ends the application as Java ends: its shutdown hook runs, while
    # STOP_PENDING advances; one that never ends is cut at the bound.
    pytest.param(Service(hook="0"), id="stop-runs-the-hook"),
    pytest.param(Service(hook="3000"), id="slow-hook"),
    pytest.param(Service(hook="forever"), id="hook-never-ends", marks=pytest.mark.i686),
    pytest.param(Service(main=SLOW_MAIN, hook="0"), id="stop-during-slow-main"),
])
def test_java_application_runs_as_a_service_until_it_ends(request, case):
    service = request.getfixturevalue(case.session)
    # Empty entries are dropped from the stored options.
    args = [arg for arg in ARGUMENTS[case.arguments].args if arg]
    folder = service.host.folder / ARGUMENTS[case.arguments].workdir
    app = JavaApp.install(folder, **({"classes": folder / case.classes} if case.classes else {}), vm_folder=case.vm)
    install_entries(service, *app.entries(*args, main=case.main, hook=case.hook))

    service.start()
    answers = case.classes is None
    if answers:
        answer = app.ask(PORT_PROPERTY, wait=True)
        assert answer["args"] == [code_points(arg) for arg in args]
        assert answer["cwd"] == app.workdir.win
        assert answer["properties"] == {PORT_PROPERTY: str(app.port)}
        assert SERVER_THREAD in answer["threads"], answer
    if case.event:
        event = service.wait_for_event()
        assert event[1] == case.event
        assert event_code(event) == case.exit[0]
        assert service.scm.query()["state"] == RUNNING
    if case.stop:
        assert service.scm.control("stop")[0]["error"] == 0
    stopped = service.scm.wait(STOPPED, timeout=3 * DEFAULT_TIMEOUT)

    app.assert_closed()
    assert wait_gone(service.host.session.prefix, EXE_NAME) == [], "the service process still runs"
    assert (signed(stopped["exit"]), stopped["specific"]) == case.exit, stopped

    # Everything the application and its VM wrote is in the log, between the
    # host's start and stop lines.
    lines = log_lines(app.workdir)
    assert lines[0] == LOG_START and lines[-1] == stop_line(stopped["exit"], stopped["specific"]), lines
    for line in app.lines(args, case.main) + [ANSWERED] if answers else []:
        assert line in lines, (line, lines)
    if case.hook is not None:
        # The hook's words stand between the host's "is stopping." and its end.
        assert app.hook_ran()
        assert lines.index(LOG_STOPPING) < lines.index(HOOK_LINES[0]), lines
        last = TIMED_OUT if case.hook == "forever" else HOOK_LINES[1]
        assert lines[-2] == last, lines
        process = service.process()
        assert process.warnings == ([("OstrelServer : WARNING : 1053", TIMED_OUT[len("host: "):])]
                                    if case.hook == "forever" else [])
        pending = [r for r in process.reports if r.state == STOP_PENDING]
        assert [r.checkpoint for r in pending] == list(range(3, 3 + len(pending))), pending
        # Progress once a second while the application ends, with its wait hint.
        assert len(pending) >= {"0": 1, "3000": 3, "forever": 30}[case.hook], pending
        assert all(r.wait == 3000 for r in pending[1:]), pending
    thrown = {"throw": THROWN, "thread-throws": ("FileServer: a line on System.err",) + THREAD_THROWN}
    for text in thrown.get(case.main, ()):
        assert any(line.startswith(text) for line in lines), (text, lines)
    if case.event:
        assert f"host: ERROR {event_code(event)}: {case.event}" in lines, lines


def test_java_output_burst_is_rotated_whole_while_the_service_runs(service):
    """12 MiB from System.out while the service runs: the log is rotated at
    10 MiB, and every line stands once, whole and in order."""
    count = 12 * 1024 * 1024 // 100
    app = JavaApp.install(service.host.folder / "wd")
    install_entries(service, *app.entries(burst=count * 100))
    service.start()
    old = app.workdir.path / "OstrelServer.log.1"
    def done():
        try:  # between the rename to .1 and the new log there is none for a moment
            return old.exists() and b"FileServer: burst done" in app.workdir.output_log.read_bytes()
        except FileNotFoundError:
            return False
    assert wait_for(done, 120)
    assert service.scm.control("stop")[0]["error"] == 0
    service.scm.wait(STOPPED)

    assert 10 * 1024 * 1024 <= old.stat().st_size < 10 * 1024 * 1024 + 200
    lines = log_lines(old) + log_lines(app.workdir)
    assert [line for line in lines if line.startswith("burst")] == [burst_line(0, k)[:-1] for k in range(count)]
    assert lines[0] == LOG_START and lines[-1] == stop_line(0)
