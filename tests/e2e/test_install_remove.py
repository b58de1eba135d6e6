"""The "install" and "remove" commands against Wine's service control manager
and registry."""

import re
import shutil

import pytest

from scm import (DISPLAY_NAME, ERROR_FILE_NOT_FOUND, ERROR_SERVICE_DOES_NOT_EXIST, ERROR_SERVICE_EXISTS,
                 EVENT_SOURCE_KEY, OPTIONS_VALUE, PARAMETERS_KEY, PRESHUTDOWN_TIMEOUT, REG_DWORD, REG_EXPAND_SZ,
                 REG_SZ, RUNNING, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, SERVICE_KEY, SERVICE_WIN32_OWN_PROCESS,
                 STOPPED)
from winehost import win_path

INSTALLED = f"{DISPLAY_NAME} is installed.\n"
REMOVED = f"{DISPLAY_NAME} is removed.\n"
TOO_LONG = "Options too long: at most 2047 characters.\n"
NO_PARAMETERS_KEY = "Could not create Parameters subkey.\n"
NOT_REGISTERED = "Could not register the event source.\n"
NOT_UNREGISTERED = "Could not remove the event source.\n"
MAX_OPTIONS = 2047
NO_EVENT_SOURCE = (ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND)


def assert_registered(service, exe):
    assert service.scm.value(SERVICE_KEY, "Description") == (REG_SZ, b"Runs the Ostrel Java server.\0")
    config = service.scm.config()
    assert config == {
        "error": 0,
        # Quoted, so that a blank in the path cannot make another program the service.
        "path": f'"{win_path(exe)}"',
        "type": SERVICE_WIN32_OWN_PROCESS,
        "start": SERVICE_AUTO_START,
        "errorcontrol": SERVICE_ERROR_NORMAL,
        "group": "",
        "tag": 0,
        "dependencies": "",
        "account": "LocalSystem",
        "display": DISPLAY_NAME,
    }
    assert service.scm.key_class(PARAMETERS_KEY) == "LocalSystem"
    # As the service manager keeps it: Windows waits that long for the service at a shutdown.
    assert service.scm.preshutdown_timeout() == PRESHUTDOWN_TIMEOUT


def stored_options(service):
    return service.scm.value(PARAMETERS_KEY, OPTIONS_VALUE)


def event_source(service):
    return tuple(service.scm.value(EVENT_SOURCE_KEY, name) for name in ("EventMessageFile", "TypesSupported"))


def assert_event_source(service, exe):
    # The path unquoted, as the event log reads it; errors, warnings and information.
    assert event_source(service) == ((REG_EXPAND_SZ, win_path(exe).encode() + b"\0"),
                                     (REG_DWORD, (7).to_bytes(4, "little")))


def assert_not_installed(service):
    assert service.scm.query()["error"] == ERROR_SERVICE_DOES_NOT_EXIST
    assert service.scm.key_class(PARAMETERS_KEY) == ERROR_FILE_NOT_FOUND
    assert service.scm.key_class(EVENT_SOURCE_KEY) == ERROR_FILE_NOT_FOUND


# The options are the arguments after "install", joined with one blank; "|"
# separates the launch entries only when the service reads them back.
@pytest.mark.parametrize("arguments, joined", [
    (["wrkdir=Z:\\srv|-Dport=1099|first arg"], "wrkdir=Z:\\srv|-Dport=1099|first arg"),
    (["wrkdir=Z:\\srv", "-Dport=1099", "arg"], "wrkdir=Z:\\srv -Dport=1099 arg"),
    (["a|b", "c", "|d"], "a|b c |d"),
    (["a", "", "b"], "a  b"),
    (["x" * 1000, "y" * 1046], "x" * 1000 + " " + "y" * 1046),
    ([], ""),
], ids=["entries", "separate-arguments", "mixed", "empty-argument", "2047-characters", "none"])
def test_install_registers_the_service_with_its_options(service, arguments, joined):
    assert len(joined) <= MAX_OPTIONS
    result = service.install(*arguments)
    assert (result.returncode, result.stdout) == (0, INSTALLED), result
    assert_registered(service, service.host.exe)
    # REG_SZ with its terminator: one byte when there are no options.
    assert stored_options(service) == (REG_SZ, joined.encode() + b"\0")
    assert_event_source(service, service.host.exe)
    assert service.scm.query()["state"] == STOPPED

    result = service.remove()
    assert (result.returncode, result.stdout) == (0, REMOVED), result
    assert_not_installed(service)


@pytest.mark.parametrize("install, remove", [("INSTALL", "REMOVE"), ("Install", "Remove"), ("iNsTaLl", "rEmOvE")])
def test_install_and_remove_words_ignore_case(service, install, remove):
    assert service.command(install, "arg").stdout == INSTALLED
    assert stored_options(service) == (REG_SZ, b"arg\0")
    assert service.command(remove).stdout == REMOVED
    assert service.scm.query()["error"] == ERROR_SERVICE_DOES_NOT_EXIST


def test_second_install_fails_and_leaves_the_first_untouched(service):
    assert service.install("wrkdir=Z:\\first|one").stdout == INSTALLED
    second = service.host.folder / "second" / "OstrelServer.exe"
    second.parent.mkdir()
    shutil.copy(service.host.exe, second)
    result = service.install("wrkdir=Z:\\second|two", exe=second)
    assert result.returncode == 0, result
    assert result.stdout == f"ERROR : CreateService : {service.scm.system_error_text(ERROR_SERVICE_EXISTS)}\n"
    assert_registered(service, service.host.exe)
    assert stored_options(service) == (REG_SZ, b"wrkdir=Z:\\first|one\0")
    assert_event_source(service, service.host.exe)


# A key in the way, locked against new values and subkeys: the failing step
# prints its line, every earlier step stands and no later one is taken. The
# event source is registered only once the options are stored.
@pytest.mark.parametrize("locked, message, options", [
    (EVENT_SOURCE_KEY, NOT_REGISTERED, (REG_SZ, b"wrkdir=Z:\\srv|arg\0")),
    (PARAMETERS_KEY, NO_PARAMETERS_KEY, ERROR_FILE_NOT_FOUND),
], ids=["event-source", "parameters"])
def test_install_stops_at_a_locked_key_with_one_line(service, locked, message, options):
    assert service.scm.reply("lockkey", locked)["error"] == 0
    result = service.install("wrkdir=Z:\\srv|arg")
    assert (result.returncode, result.stdout) == (0, INSTALLED + message), result
    assert_registered(service, service.host.exe)
    assert stored_options(service) == options
    assert event_source(service) == NO_EVENT_SOURCE

    result = service.remove()
    assert (result.returncode, result.stdout) == (0, REMOVED), result
    assert_not_installed(service)


def test_remove_without_event_source_only_removes(service):
    """As a service installed before the host registered its event source."""
    assert service.install().stdout == INSTALLED
    assert service.scm.delete_keys(EVENT_SOURCE_KEY) == [0]
    result = service.remove()
    assert (result.returncode, result.stdout) == (0, REMOVED), result
    assert_not_installed(service)


def test_event_source_that_cannot_be_deleted_leaves_the_removal_whole(service):
    assert service.install().stdout == INSTALLED
    # A key with a subkey cannot be deleted.
    service.scm.set_value(EVENT_SOURCE_KEY + "\\sub", "x", REG_SZ, b"\0")
    result = service.remove()
    assert (result.returncode, result.stdout) == (0, REMOVED + NOT_UNREGISTERED), result
    assert service.scm.query()["error"] == ERROR_SERVICE_DOES_NOT_EXIST
    assert_event_source(service, service.host.exe)


@pytest.mark.parametrize("arguments", [["o" * (MAX_OPTIONS + 1)], ["x" * 1000, "y" * 1047], ["z" * 5000]],
                         ids=["one-argument", "joined", "far-too-long"])
def test_options_too_long_install_nothing(service, arguments):
    result = service.install(*arguments)
    assert (result.returncode, result.stdout) == (0, TOO_LONG), result
    assert_not_installed(service)


def test_remove_when_not_installed_reports_the_missing_service(service):
    result = service.remove()
    assert result.returncode == 0, result
    expected = service.scm.system_error_text(ERROR_SERVICE_DOES_NOT_EXIST)
    assert result.stdout == f"ERROR : OpenService : {expected}\n"


# "remove" prints a dot for each second it sees STOP_PENDING; the application
# ends at the stop, also while its main still runs.
@pytest.mark.parametrize("scenario, started", [({}, "main-returned"), ({"main": "block:3000"}, "app-threads")],
                         ids=["idle", "main-still-running"])
def test_remove_stops_a_running_service_first(service, scenario, started):
    workdir = service.host.workdir(scenario)
    assert service.install(f"{workdir.entry}|arg").stdout == INSTALLED
    service.start()
    workdir.wait_for_event(started)

    result = service.remove()

    assert result.returncode == 0, result
    stopping, stopped = re.escape(f"Stopping {DISPLAY_NAME} ."), re.escape(f"\n{DISPLAY_NAME} is stopped.\n")
    assert re.fullmatch(stopping + r"\.*" + stopped + re.escape(REMOVED), result.stdout), result
    assert service.scm.query()["error"] == ERROR_SERVICE_DOES_NOT_EXIST
    reports = service.process().reports
    assert [r.state for r in reports[-1:]] == [STOPPED] and reports[-1].exit == 0, reports
    assert workdir.transcript().events("system-exit") == [("0",)]


def test_remove_of_a_stopped_service_only_removes(service):
    workdir = service.host.workdir()
    assert service.install(f"{workdir.entry}|arg").stdout == INSTALLED
    service.start()
    workdir.wait_for_event("main-returned")
    assert service.scm.control("stop")[0]["error"] == 0
    service.scm.wait(STOPPED)

    result = service.remove()
    assert (result.returncode, result.stdout) == (0, REMOVED), result
    assert service.scm.query()["error"] == ERROR_SERVICE_DOES_NOT_EXIST


def test_path_with_a_blank_starts_the_host_and_nothing_else(service, scm_exe):
    """Unquoted, "<folder>\\svc dir\\OstrelServer.exe" would start <folder>\\svc.exe."""
    folder = service.host.folder
    exe = folder / "svc dir" / "OstrelServer.exe"
    exe.parent.mkdir()
    shutil.copy(service.host.exe, exe)
    decoy = folder / "svc.exe"
    shutil.copy(scm_exe, decoy)
    marker = folder / "svc.exe.ran"
    workdir = service.host.workdir()

    assert service.install(f"{workdir.entry}|arg", exe=exe).stdout == INSTALLED
    assert_registered(service, exe)
    assert_event_source(service, exe)
    assert service.start_service() == 0
    status = service.scm.poll(RUNNING)

    assert not marker.exists(), "the service manager ran the decoy"
    assert status["state"] == RUNNING, status
    assert workdir.wait_for_event("main-args").main_args() == ["arg"]
