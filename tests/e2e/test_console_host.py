"""The host run in the console ("execute"), against the test VM under Wine."""

import re
import shutil
import time

import pytest

from winehost import (END_CALLS, HEAP_WORDS, HOOK_LINES, LIBRARY_BELOW_WORKDIR, MAIN_CLASS, MAIN_SIGNATURE, REPO,
                      RUNTIME_VM, STRING_CLASS, library_path, options_of, start_calls, win_path)

BANNER = "Running Ostrel Server.\n"
# The host registers its console handler right after main returns, or enters its
# wait right after printing a start failure. The pause orders the interrupt after
# that step; nothing measures it.
SETTLE = 0.5
# A console passes the VM no output hook: the VM writes to the console itself.
CONSOLE_HOOKS = ["exit", "abort"]


def hooks_of(transcript, after):
    """The hook options the VM got, checked to follow the `after` user options."""
    hooks = transcript.events("hook")
    assert [(index, state) for index, _, state in hooks] == [(str(after + i), "set") for i in range(len(hooks))]
    return [name for _, name, _ in hooks]


def run_until_ctrl_c(host, workdir, entries, env_extra=None, exe=None):
    """Starts the host, lets main return, interrupts it: the result and the transcript."""
    run = host.start(["execute", *entries], env_extra=env_extra, exe=exe)
    workdir.wait_for_event("main-returned")
    time.sleep(SETTLE)
    assert run.alive(), f"the host ended on its own: {run.finish()!r}"
    run.interrupt()
    return run.finish(), workdir.transcript()


def assert_stopped_by_host(result, transcript):
    """A clean stop by Ctrl-C: the host's handler took the event, the VM stayed
    loaded, and the application ended through System.exit(0), its hooks first."""
    assert result.returncode == 0, result
    assert result.stdout == BANNER + "".join(line + "\n" for line in HOOK_LINES), result
    assert transcript.events("system-exit") == [("0",)]
    assert transcript.events("exit-hook") == [("0", "hooked")]
    assert transcript.events("console-event") == [], "the event went past the host's handler"
    assert not transcript.has("unload"), "the VM library was unloaded under its threads"
    assert transcript.has("process-exit"), transcript


@pytest.mark.i686
def test_start_hands_vm_options_and_arguments_to_the_vm_and_stops_on_ctrl_c(host):
    workdir = host.workdir()
    entries = ["-Dfirst=1", "app1", "WrkDir=" + workdir.win, "/Dslash=2", "-Xmx64m",
               "second arg", 'say "hi"', "", "-", "-dlower", "-xlower",
               "WRKDIR=Z:\\elsewhere", "wrkdir=", "/Xrs", "-Dwrkdir=x"]
    options = ["-Dfirst=1", "/Dslash=2", "-Xmx64m", "/Xrs", "-Dwrkdir=x"]
    arguments = ["app1", "second arg", 'say "hi"', "", "-", "-dlower", "-xlower"]

    result, transcript = run_until_ctrl_c(host, workdir, entries)

    assert_stopped_by_host(result, transcript)
    assert len(transcript.events("load")) == 1
    assert transcript.events("create") == [
        ("version=0x00010002", f"nOptions={len(options) + len(CONSOLE_HOOKS)}", "ignoreUnrecognized=1")]
    assert options_of(transcript) == options
    assert hooks_of(transcript, len(options)) == CONSOLE_HOOKS
    assert transcript.events("create-result") == [("0",)]
    assert transcript.jni() == start_calls(arguments) + END_CALLS
    assert len(transcript.threads()) == 1, "JNI used on more than the run thread"
    assert transcript.main_args() == arguments
    # The host made the working directory current, and recorded it in the drive's
    # per-drive variable as the C runtime's _chdir does.
    assert transcript.events("cwd") == [(workdir.win, workdir.win)]
    assert not workdir.output_log.exists(), "a console run keeps the console: no log"


@pytest.mark.parametrize("extra", [[], ["-Xint", "wrkdir="]], ids=["alone", "with-option"])
def test_main_gets_an_empty_array_without_arguments(host, extra):
    workdir = host.workdir()
    result, transcript = run_until_ctrl_c(host, workdir, [workdir.entry, *extra])
    assert_stopped_by_host(result, transcript)
    assert transcript.jni() == start_calls([]) + END_CALLS
    assert transcript.main_args() == []


def test_twenty_vm_options_reach_the_vm(host):
    workdir = host.workdir()
    options = [f"{prefix}opt{i}" for i in range(5) for prefix in ("-D", "/D", "-X", "/X")]
    assert len(options) == 20
    result, transcript = run_until_ctrl_c(host, workdir, [workdir.entry, *options])
    assert_stopped_by_host(result, transcript)
    assert options_of(transcript) == options
    # The hooks never count against the limit, nor push an option out.
    assert hooks_of(transcript, 20) == CONSOLE_HOOKS


def test_long_entries_reach_the_vm_whole(host):
    workdir = host.workdir()
    lengths = (2047, 2048, 5000)
    options = [f"-Dlong{n}=".ljust(n, "o") for n in lengths]
    arguments = [f"arg{n}:".ljust(n, "a") for n in lengths]
    result, transcript = run_until_ctrl_c(host, workdir, [*options, workdir.entry, *arguments])
    assert_stopped_by_host(result, transcript)
    assert options_of(transcript) == options
    assert transcript.main_args() == arguments


# Non-ASCII bytes in the ANSI code page reach main as the characters they stand for.
# Wine turns the UTF-8 command line into the code page of the process's locale.
@pytest.mark.i686
@pytest.mark.parametrize("locale, code_page, texts", [
    ("C.UTF-8", "cp1252", ["é", "€", "naïve"]),     # 0xE9, 0x80 (not U+0080)
    ("ja_JP.UTF-8", "cp932", ["ポ", "表", "ｱ"]),     # 0x83 0x7C, 0x95 0x5C, 0xB1
])
def test_non_ascii_arguments_reach_main_as_unicode(host, locale, code_page, texts):
    # The working directory's name has such a character too (表 ends in the byte "\").
    workdir = host.workdir(name="wd-" + texts[1])
    option = "-Dname=" + texts[0]
    result, transcript = run_until_ctrl_c(host, workdir, [workdir.entry, option, *texts],
                                          env_extra={"LC_ALL": locale})
    assert_stopped_by_host(result, transcript)
    assert transcript.main_args() == texts
    # Options travel as the code page's bytes, exactly as given.
    assert options_of(transcript) == [option.encode(code_page).decode("utf-8", "surrogateescape")]


# A relative working directory is taken relative to the current directory, as
# a command line is read, and the VM, its C library and the current directory
# all come from that one full path: a decoy at the same relative path below the
# executable's folder, where the library search would look first, stays unloaded.
@pytest.mark.parametrize("entry", ["wrkdir=wd", "wrkdir=.\\x\\..\\wd", "wrkdir={folder}/x/../wd"],
                         ids=["relative", "dotted", "slashes-and-dots"])
def test_relative_workdir_is_the_current_directorys(host, entry):
    workdir = host.workdir(vm=RUNTIME_VM)
    decoy = host.workdir(vm=RUNTIME_VM, name="app/wd")
    exe = shutil.copy(host.exe, decoy.path.parent)
    folder = win_path(host.folder).replace("\\", "/")
    result, transcript = run_until_ctrl_c(host, workdir, [entry.format(folder=folder), "arg"], exe=exe)
    assert_stopped_by_host(result, transcript)
    assert transcript.events("runtime") == [("71",)]
    assert transcript.events("cwd") == [(workdir.win, workdir.win)]
    assert transcript.main_args() == ["arg"]
    assert decoy.transcript().lines == [], "the decoy beside the executable was loaded"


def test_ctrl_c_during_a_slow_main_ends_the_process(host):
    workdir = host.workdir({"main": "block:20000"})
    run = host.start(["execute", workdir.entry])
    workdir.wait_for_event("app-threads")
    run.interrupt()
    result = run.finish()
    transcript = workdir.transcript()
    # No handler of the host yet: the VM's handler sees the event and passes it
    # on, and the default handler ends the process.
    assert result.returncode == 0, result
    assert result.stdout == BANNER, result
    assert transcript.events("console-event") == [("0",)]
    assert not transcript.has("main-returned")


def test_second_ctrl_c_is_harmless(host):
    workdir = host.workdir()
    run = host.start(["execute", workdir.entry, "arg"])
    workdir.wait_for_event("main-returned")
    time.sleep(SETTLE)
    run.interrupt()
    run.interrupt()
    assert_stopped_by_host(run.finish(), workdir.transcript())


# created: the result JNI_CreateJavaVM gave (None: not called); last_call: the
# host's last JNI call, after which it must do nothing more.
@pytest.mark.parametrize("scenario, vm, entries, message, created, last_call", [
    pytest.param({}, "jvm.dll", [f"-Dopt{i}" for i in range(21)],
                 "Max. number of Java args exceeded.", None, None, id="21-vm-options"),
    pytest.param({"create_result": -1}, "jvm.dll", [], "Cannot create Java VM.", "-1", None,
                 id="creation-fails"),
    pytest.param({}, "jvm_noentry.dll", [], "Cannot create Java VM.", None, None,
                 id="no-entry-point"),
    pytest.param({"missing_class": MAIN_CLASS}, "jvm.dll", [], "Cannot find main class.", "0",
                 ("FindClass", MAIN_CLASS), id="main-class-missing"),
    pytest.param({"missing_method": "main"}, "jvm.dll", [], "Cannot find main method.", "0",
                 ("GetStaticMethodID", MAIN_CLASS, "main", MAIN_SIGNATURE),
                 id="main-method-missing"),
    pytest.param({"oom_array": 1}, "jvm.dll", ["a"], "Out of Memory!", "0",
                 ("NewObjectArray", "1", STRING_CLASS), id="array-fails"),
    pytest.param({"oom_string": 2}, "jvm.dll", ["a", "b", "c"], "Out of Memory!", "0",
                 ("NewString", "b"), id="second-string-fails"),
    # main was called: the interrupt ends the application.
    pytest.param({"main": "throw"}, "jvm.dll", [], "Exception in main method.", "0",
                 END_CALLS[-1], id="main-throws"),
])
def test_start_failure_is_reported_and_the_host_waits_for_ctrl_c(host, scenario, vm, entries,
                                                                   message, created, last_call):
    workdir = host.workdir(scenario, vm=vm)
    run = host.start(["execute", workdir.entry, *entries])
    run.wait_for_output(message)
    time.sleep(SETTLE)
    assert run.alive(), f"the host ended instead of waiting: {run.finish()!r}"
    run.interrupt()
    result = run.finish()
    transcript = workdir.transcript()

    ended = transcript.has("main-threw")
    assert result.returncode == 0, result
    assert result.stdout == BANNER + "".join(line + "\n" for line in [message, *(HOOK_LINES if ended else [])]), result
    assert transcript.has("load")
    assert transcript.events("create-result") == ([] if created is None else [(created,)])
    calls = transcript.jni()
    if last_call is None:
        assert calls == [], "JNI used without a VM"
    else:
        assert calls[-1] == last_call, "the host went on after the failure"
    # The host registers its handler only once main has returned (by throwing
    # too): else the VM's handler, installed when the VM was created, sees the
    # event and passes it on.
    vm_hears_it = created == "0" and not ended
    assert transcript.events("console-event") == ([("0",)] if vm_hears_it else [])
    assert not transcript.has("unload")


def test_exception_in_main_is_described_by_the_vm(host):
    workdir = host.workdir({"main": "throw"})
    run = host.start(["execute", workdir.entry])
    run.wait_for_output("Exception in main method.")
    run.interrupt()
    result = run.finish()
    assert 'Exception in thread "main" java.lang.RuntimeException' in result.stderr, result
    assert workdir.transcript().events("describe") == [("java/lang/RuntimeException",)]


@pytest.mark.parametrize("words", [pytest.param(["bogus"], marks=pytest.mark.i686), ["executes"], ["exec"], [""], ["-execute"],
                                   ["start", "execute"]])
def test_unknown_command_is_an_option_error(host, words):
    workdir = host.workdir()
    result = host.run([*words, workdir.entry])
    assert result.returncode == 0, result
    assert result.stdout.startswith("\nOption error...\n"), result
    assert result.stdout == "\nOption error...\n" + usage_in_readme(), result
    assert workdir.transcript().lines == [], "the VM was loaded"


def usage_in_readme():
    """The block under README.md's "Usage": the usage the host prints."""
    block = re.search(r"^## Usage\n\n```\n(.*?)```\n", (REPO / "README.md").read_text(), re.M | re.S).group(1)
    # The four command forms, the entry forms and the "|" of the stored options.
    for form in ("install [entries]", "remove", "execute [entries]", "-D... /D... -X... /X...", "wrkdir=", '"|"'):
        assert form in block, form
    return block


@pytest.mark.parametrize("command", ["execute", "EXECUTE", "Execute", "eXeCuTe"])
def test_execute_command_word_ignores_case(host, command):
    result = host.run([command])
    assert result.returncode == 0, result
    assert result.stdout == BANNER + f'Cannot load Java VM library "{library_path("(null)")}".\n'


@pytest.mark.parametrize("entries, directory", [
    ([], "(null)"),
    (["wrkdir=", "-Dx=1", "arg"], "(null)"),
    (["-Dwrkdir=Z:\\tmp", "xwrkdir=Z:\\tmp"], "(null)"),
    (["WRKDIR={missing}", "wrkdir={good}"], "{missing}"),
    (["wrkdir={long}"], "{long}"),
    # A client VM that does not load is a broken runtime: no server VM instead.
    (["wrkdir={broken}"], "{broken}"),
], ids=["none", "empty", "not-a-workdir-entry", "first-wins", "overlong", "broken-client"])
def test_library_load_failure_is_reported_and_ends_the_run(host, entries, directory):
    good = host.workdir()
    broken = host.workdir(name="broken", folder="server")
    (broken.path / "jre1.6.0" / "bin" / "client").mkdir()
    (broken.path / "jre1.6.0" / "bin" / "client" / "jvm.dll").write_text("not a PE image")
    names = {"missing": good.win + "-missing", "good": good.win, "broken": broken.win,
             "long": "Z:\\" + "\\".join(["d" * 49] * 6)}
    assert len(names["long"]) == 302
    result = host.run(["execute", *(entry.format(**names) for entry in entries)])
    assert result.returncode == 0, result
    assert result.stdout == BANNER + f'Cannot load Java VM library "{library_path(directory.format(**names))}".\n'
    assert good.transcript().lines == [] and broken.transcript().lines == [], "a VM was loaded"


@pytest.mark.parametrize("length", [259, 260])
def test_library_path_longer_than_259_characters_is_not_loaded(host, length):
    base = len(host.workdir(name="w").win) - 1
    workdir = host.workdir(name="w" * (length - base - len(LIBRARY_BELOW_WORKDIR)))
    path = library_path(workdir.win)
    assert len(path) == length
    if length < 260:
        result, transcript = run_until_ctrl_c(host, workdir, [workdir.entry])
        assert_stopped_by_host(result, transcript)
    else:
        result = host.run(["execute", workdir.entry])
        assert result.returncode == 0, result
        assert result.stdout == BANNER + f'Cannot load Java VM library "{path}".\n'
        assert workdir.transcript().lines == [], "the VM was loaded"



# The VM ends the process itself; the host says why, and the process ends with
# the VM's code. The VM's own words are its own to print in a console.
@pytest.mark.parametrize("scenario, message, code", [
    ({"say": HEAP_WORDS, "create_abort": 1}, "Cannot create Java VM.", 1),
    ({"say": HEAP_WORDS, "create_exit": 5}, "Cannot create Java VM.", 5),
    ({"app_exit": "3:300"}, "Java VM exited with code 3.", 3),
    ({"app_exit": "0:300"}, None, 0),
    ({"app_abort": 300}, "Java VM aborted.", 1),
    # A Unix parent sees the low byte of the code, here of 0xFFFFFFFE.
    ({"app_exit": "-2:300"}, "Java VM exited with code -2.", 0xFE),
], ids=["abort-during-creation", "exit-during-creation", "exit-3", "exit-0", "abort", "exit-negative"])
def test_vm_end_is_reported_and_the_process_ends_with_its_code(host, scenario, message, code):
    workdir = host.workdir(scenario)
    result = host.run(["execute", workdir.entry, "arg"])
    assert result.returncode == code, result
    assert result.stdout == BANNER + (f"{message}\n" if message else ""), result
    for line in scenario.get("say", []):
        assert line in result.stderr, result
    transcript = workdir.transcript()
    assert hooks_of(transcript, 0) == CONSOLE_HOOKS
    assert transcript.has("exit-hook") or transcript.has("abort-hook"), transcript


# The client VM where there is one, else the server VM, each after the C
# library the runtime keeps in bin\.
# A folder named like a device ("aux") is a folder all the same.
@pytest.mark.parametrize("vm, folder, name", [(RUNTIME_VM, "client", "wd"), (RUNTIME_VM, "server", "wd"),
                                              ("jvm.dll", "server", "wd"), ("jvm.dll", "client", "x/aux")],
                         ids=["client-with-c-library", "server-with-c-library", "server-only", "device-name"])
def test_vm_below_the_workdir_is_loaded(host, vm, folder, name):
    workdir = host.workdir(vm=vm, folder=folder, name=name)
    result, transcript = run_until_ctrl_c(host, workdir, [workdir.entry, "arg"])
    assert_stopped_by_host(result, transcript)
    assert transcript.events("runtime") == ([("71",)] if vm == RUNTIME_VM else [])
    assert transcript.main_args() == ["arg"]
    assert transcript.events("cwd") == [(workdir.win, workdir.win)]


def test_no_workdir_searches_for_no_vm(host):
    """Without a working directory a "(null)" folder beside the executable, the first
    place the library search looks, must not give the process its VM."""
    exe = shutil.copy(host.exe, host.folder)
    decoy = host.workdir(name="(null)")
    result = host.start(["execute", "arg"], exe=exe).finish()
    assert result.returncode == 0, result
    assert result.stdout == BANNER + f'Cannot load Java VM library "{library_path("(null)")}".\n', result
    assert decoy.transcript().lines == [], "the VM in the (null) folder was loaded"
