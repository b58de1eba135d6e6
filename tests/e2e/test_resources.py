"""The executables' resources, read under Wine as Windows reads them: the
event message table (as the event viewer formats an entry), the version
information and the application manifest."""

import re
import xml.etree.ElementTree as ET
from collections import namedtuple

import pytest

from scm import ScmClient
from winehost import BUILD_DIR, EXE_NAME, I686_BUILD_DIR, REPO, win_path

Build = namedtuple("Build", "exe architecture")
BUILDS = {"x86_64": (BUILD_DIR, "amd64"), "i686": (I686_BUILD_DIR, "x86")}
# The one version number, from project() in CMakeLists.txt.
VERSION = re.search(r"^project\(OstrelServer VERSION (\d+\.\d+\.\d+) ", (REPO / "CMakeLists.txt").read_text(),
                    re.M).group(1)
VOS_NT_WINDOWS32, VFT_APP = 0x40004, 1
RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID = 24, 1
ASM_V1, ASM_V2 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v2"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
WINDOWS_7_TO_11 = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


@pytest.fixture(scope="module")
def client(wine, scm_exe):
    return ScmClient(wine, scm_exe)


@pytest.fixture(params=list(BUILDS))
def build(request):
    """Each target's executable; the i686 one is read as data, never run."""
    build_dir, architecture = BUILDS[request.param]
    path = build_dir / EXE_NAME
    if not path.exists():
        pytest.skip(f"no {path} (cmake --preset {request.param} && cmake --build build/{request.param})")
    return Build(win_path(path), architecture)


@pytest.mark.parametrize("strings", [
    ("OstrelServer : ERROR : 2", "Cannot find main class."),
    ("OstrelServer : ERROR : 1063", "StartServiceCtrlDispatcher"),
    ("", "%1 at 100%"),
], ids=["start-failure", "dispatcher", "odd-text"])
def test_event_text_is_the_two_strings_on_two_lines(client, build, strings):
    # The inserts are text, never formats of their own.
    assert client.message(build.exe, 0, *strings) == "\r\n".join(strings)


def test_version_information_names_the_host_and_its_version(client, build):
    assert client.reply("version", build.exe) == {
        "error": 0, "fileversion": VERSION + ".0", "productversion": VERSION + ".0", "flags": 0,
        "os": VOS_NT_WINDOWS32, "type": VFT_APP, "translation": "040904b0",
        # No CompanyName, nor any other string.
        "FileDescription": "Ostrel Server service host", "FileVersion": VERSION,
        "InternalName": "OstrelServer.exe", "OriginalFilename": "OstrelServer.exe",
        "ProductName": "Ostrel Server", "ProductVersion": VERSION,
    }


def test_manifest_runs_as_invoker_and_names_windows_7_to_11(client, build):
    reply = client.reply("resource", build.exe, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID)
    assert reply["error"] == 0, reply
    root = ET.fromstring(bytes.fromhex(reply["data"]))
    assert (root.tag, root.get("manifestVersion")) == (f"{{{ASM_V1}}}assembly", "1.0")
    identity = root.find(f"{{{ASM_V1}}}assemblyIdentity")
    assert (identity.get("version"), identity.get("processorArchitecture")) == (VERSION + ".0", build.architecture)
    # trustInfo in the asm.v2 namespace, the form Windows XP SP2 accepts.
    path = "/".join(f"{{{ASM_V2}}}{tag}" for tag in ("trustInfo", "security", "requestedPrivileges",
                                                      "requestedExecutionLevel"))
    assert [(e.get("level"), e.get("uiAccess")) for e in root.iterfind(path)] == [("asInvoker", "false")]
    path = "/".join(f"{{{COMPATIBILITY}}}{tag}" for tag in ("compatibility", "application", "supportedOS"))
    assert {e.get("Id") for e in root.iterfind(path)} == WINDOWS_7_TO_11
