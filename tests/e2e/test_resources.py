"""The executables' resources, read under Wine as Windows reads them: the
event message table (as the event viewer formats an entry)."""

import pytest

from scm import ScmClient
from winehost import BUILD_DIR, EXE_NAME, I686_BUILD_DIR, win_path

BUILDS = {"x86_64": BUILD_DIR, "i686": I686_BUILD_DIR}


@pytest.fixture(scope="module")
def client(wine, scm_exe):
    return ScmClient(wine, scm_exe)


@pytest.fixture(params=list(BUILDS))
def exe(request):
    """Each target's executable; the i686 one is read as data, never run."""
    path = BUILDS[request.param] / EXE_NAME
    if not path.exists():
        pytest.skip(f"no {path} (cmake --preset {request.param} && cmake --build build/{request.param})")
    return win_path(path)


@pytest.mark.parametrize("strings", [
    ("OstrelServer : ERROR : 2", "Cannot find main class."),
    ("OstrelServer : ERROR : 1063", "StartServiceCtrlDispatcher"),
    ("", "%1 at 100%"),
], ids=["start-failure", "dispatcher", "odd-text"])
def test_event_text_is_the_two_strings_on_two_lines(client, exe, strings):
    # The inserts are text, never formats of their own.
    assert client.message(exe, 0, *strings) == "\r\n".join(strings)
