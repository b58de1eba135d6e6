"""End-to-end tests: the built host under Wine, with the test VM as its jvm.dll.

Run with /usr/bin/python3 -m pytest tests/e2e. OSTREL_BUILD_DIR names the build
under test (default build/x86_64), OSTREL_I686_BUILD_DIR the i686 one for the
static checks. The console tests' Wine prefix, its boot log and every test's
folder live in $OSTREL_BUILD_DIR/e2e; the service tests' sessions in
e2e/service and e2e/service-cp932 below it, laid out alike. Prefixes are kept
for the next run. The real-VM tests need the fixture of realvm.py.

With OSTREL_BUILD_DIR=build/i686 the 32-bit layer runs: the rows marked i686,
under the 32-bit Wine by emulation (winehost.py), with the i686 stand-in VM,
client and real VM.
"""

import os
import re
import shutil

import pytest

import realvm
from scm import ServiceSession, ServiceTest
from winehost import BUILD_DIR, EXE_NAME, MACHINE, WINE, HostRunner, WineSession

E2E_DIR = BUILD_DIR / "e2e"
VM_DLLS = ("jvm.dll", "jvm_noentry.dll", "jvm_msvcr71.dll")


def pytest_configure(config):
    config.addinivalue_line("markers", "i686: a row of the 32-bit layer, which runs the i686 build by emulation")


def pytest_collection_modifyitems(config, items):
    # Under emulation every process is dear: the i686 build runs its layer's rows only.
    if MACHINE == "i686":
        config.hook.pytest_deselected(items=[item for item in items if not item.get_closest_marker("i686")])
        items[:] = [item for item in items if item.get_closest_marker("i686")]


def _built(path):
    if not path.exists():
        pytest.fail(f"{path} is missing: build it first (cmake --preset x86_64 && "
                    f"cmake --build build/x86_64), or point OSTREL_BUILD_DIR at a build",
                    pytrace=False)
    return path


def _wine_there():
    if not os.path.exists(WINE):
        pytest.fail(f"no Wine for the {MACHINE} build at {WINE}: run scripts/setup", pytrace=False)


@pytest.fixture(scope="session")
def wine():
    _wine_there()
    session = WineSession(E2E_DIR).start()
    yield session
    session.stop()


@pytest.fixture(scope="session")
def host_exe():
    return _built(BUILD_DIR / EXE_NAME)


@pytest.fixture(scope="session")
def vm_dlls():
    return {name: _built(BUILD_DIR / "testvm" / name) for name in VM_DLLS}


@pytest.fixture(scope="session")
def scm_exe():
    return _built(BUILD_DIR / "scmclient" / "scmclient.exe")


@pytest.fixture(scope="session")
def real_vm():
    """The real Java VM and the test application are there; the tests that need
    them are skipped where they are not (they fail under CI=true)."""
    problem = realvm.missing()
    if problem:
        problem = f"real Java VM tests skipped: {problem}"
        if os.environ.get("CI") == "true":
            pytest.fail(problem, pytrace=False)
        pytest.skip(problem)
    _built(realvm.AVIAN_DLL)
    _built(realvm.CLASSES)


def pytest_terminal_summary(terminalreporter):
    # The skip reason stays hidden under -q: one line says what is missing.
    skipped = terminalreporter.stats.get("skipped", [])
    reasons = {report.longrepr[2] for report in skipped if isinstance(report.longrepr, tuple)}
    for reason in sorted(r for r in reasons if "real Java VM" in r):
        terminalreporter.write_line(reason.removeprefix("Skipped: "))


def _test_folder(request, parent):
    folder = parent / "work" / re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.name)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def _finish(runner):
    """Ends what the test left running; fails when the test VM recorded a JNI
    violation or a trapped call."""
    faults = runner.finish()
    assert not faults, "the test VM recorded faults:\n" + "\n".join(
        f"{log}: {' '.join(fields)}" for log, *fields in faults)


@pytest.fixture
def host(request, wine, host_exe, vm_dlls):
    """Runs the host in a fresh folder of this test's own."""
    runner = HostRunner(wine, host_exe, vm_dlls, _test_folder(request, E2E_DIR))
    yield runner
    _finish(runner)


# Service tests run in sessions of their own (see scm.py): one in the default
# locale, one in Japanese (ANSI code page 932), each booted when first needed.
@pytest.fixture(scope="session")
def service_session(scm_exe):
    _wine_there()
    session = ServiceSession(E2E_DIR / "service", scm_exe).start()
    yield session
    session.stop()


@pytest.fixture(scope="session")
def cp932_service_session(scm_exe):
    session = ServiceSession(E2E_DIR / "service-cp932", scm_exe, {"LC_ALL": "ja_JP.UTF-8"}).start()
    yield session
    session.stop()


def _service_test(request, session, host_exe, vm_dlls):
    runner = HostRunner(session.wine, host_exe, vm_dlls, _test_folder(request, session.wine.root))
    test = ServiceTest(session, runner)
    try:
        yield test
    finally:
        # Installed services start automatically: none may outlive its test.
        session.scm.remove_service()
    _finish(runner)


@pytest.fixture
def service(request, service_session, host_exe, vm_dlls):
    """The host's service commands and the service in the default locale; the
    service is stopped and removed at the end."""
    yield from _service_test(request, service_session, host_exe, vm_dlls)


@pytest.fixture
def cp932_service(request, cp932_service_session, host_exe, vm_dlls):
    """The same in a session whose ANSI code page is 932."""
    yield from _service_test(request, cp932_service_session, host_exe, vm_dlls)
