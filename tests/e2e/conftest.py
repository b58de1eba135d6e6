"""End-to-end tests: the built host under Wine, with the test VM as its jvm.dll.

Run with /usr/bin/python3 -m pytest tests/e2e. OSTREL_BUILD_DIR names the x86_64
build (default build/x86_64), OSTREL_I686_BUILD_DIR the i686 one (read only by
the static checks). The Wine prefix, its boot log and every test's folder live
in $OSTREL_BUILD_DIR/e2e; the prefix is kept for the next run.
"""

import re
import shutil

import pytest

from winehost import BUILD_DIR, EXE_NAME, HostRunner, WineSession

E2E_DIR = BUILD_DIR / "e2e"
VM_DLLS = ("jvm.dll", "jvm_noentry.dll")


def _built(path):
    if not path.exists():
        pytest.fail(f"{path} is missing: build it first (cmake --preset x86_64 && "
                    f"cmake --build build/x86_64), or point OSTREL_BUILD_DIR at a build",
                    pytrace=False)
    return path


@pytest.fixture(scope="session")
def wine():
    session = WineSession(E2E_DIR).start()
    yield session
    session.stop()


@pytest.fixture(scope="session")
def host_exe():
    return _built(BUILD_DIR / EXE_NAME)


@pytest.fixture(scope="session")
def vm_dlls():
    return {name: _built(BUILD_DIR / "testvm" / name) for name in VM_DLLS}


@pytest.fixture
def host(request, wine, host_exe, vm_dlls):
    """Runs the host in a fresh folder of this test's own; fails the test when the
    test VM recorded a JNI violation or a trapped call."""
    folder = E2E_DIR / "work" / re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.name)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    runner = HostRunner(wine, host_exe, vm_dlls, folder)
    yield runner
    faults = runner.finish()
    assert not faults, "the test VM recorded faults:\n" + "\n".join(
        f"{log}: {' '.join(fields)}" for log, *fields in faults)
