"""The release (make dist): the last commit, checked out twice at different
paths, gives the same zip byte for byte, with both executables, the README,
the LICENSE and their sums.

Run with /usr/bin/python3 -m pytest tests/release. It builds in
build/release-check/ (about half a minute); uncommitted changes are not in it.
"""

import hashlib
import re
import shutil
import struct
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
WORK = REPO / "build" / "release-check"
CHECKOUTS = [WORK / "a", WORK / "elsewhere" / "deeper" / "b"]
MAX_EXE_SIZE = 64 * 1024
# Folder in the zip, its build in a checkout, the PE machine (i386, AMD64).
EXECUTABLES = [("x86", "i686", 0x14C), ("x64", "x86_64", 0x8664)]
ENTRIES = ["x86/OstrelServer.exe", "x64/OstrelServer.exe", "README.md", "LICENSE", "SHA256SUMS"]
SYSTEM_DLL = re.compile(r"(kernel32|advapi32|msvcrt|user32|api-ms-win-crt-[a-z0-9-]+)\.dll", re.I)


def git(*args, cwd=REPO):
    return subprocess.run(["git", *args], cwd=cwd, capture_output=True, text=True, check=True).stdout.strip()


@pytest.fixture(scope="module")
def commit():
    return git("rev-parse", "HEAD")


@pytest.fixture(scope="module")
def releases(commit):
    """The zip of each checkout, with the checkout."""
    shutil.rmtree(WORK, ignore_errors=True)
    built = []
    for checkout in CHECKOUTS:
        checkout.parent.mkdir(parents=True, exist_ok=True)
        git("clone", "--quiet", "--local", "--no-checkout", str(REPO), str(checkout))
        git("checkout", "--quiet", "--detach", commit, cwd=checkout)
        result = subprocess.run(["make", "-C", str(checkout), "dist", "JOBS=2"], capture_output=True, text=True,
                                timeout=900)
        assert result.returncode == 0, result.stdout + result.stderr
        (archive,) = (checkout / "build" / "dist").glob("*.zip")
        built.append((checkout, archive))
    return built


def test_two_checkouts_give_the_same_zip(releases):
    (first_checkout, first), (_, second) = releases
    version = (first_checkout / "build" / "dist" / "x86_64" / "version.txt").read_text().strip()
    assert re.search(rf"^project\(OstrelServer VERSION {re.escape(version)} ",
                     (first_checkout / "CMakeLists.txt").read_text(), re.M)
    assert first.name == second.name == f"OstrelServer-{version}.zip"
    assert first.read_bytes() == second.read_bytes()


def test_zip_holds_the_executables_readme_license_and_sums(releases, commit):
    checkout, archive = releases[0]
    commit_time = time.gmtime(int(git("log", "-1", "--format=%ct", commit)))
    with zipfile.ZipFile(archive) as zf:
        infos = zf.infolist()
        assert [info.filename for info in infos] == ENTRIES
        # Entry times have a resolution of two seconds.
        assert {info.date_time for info in infos} == {commit_time[:5] + (commit_time[5] // 2 * 2,)}
        content = {name: zf.read(name) for name in ENTRIES}
    for folder, build, _ in EXECUTABLES:
        built = checkout / "build" / "dist" / build / "OstrelServer.exe"
        assert content[f"{folder}/OstrelServer.exe"] == built.read_bytes()
    assert content["README.md"] == (checkout / "README.md").read_bytes()
    assert content["LICENSE"] == (checkout / "LICENSE").read_bytes()
    title = [line.strip() for line in content["LICENSE"].split(b"\n")[1:3]]
    assert title == [b"Apache License", b"Version 2.0, January 2004"]
    assert content["SHA256SUMS"].decode() == "".join(
        f"{hashlib.sha256(content[name]).hexdigest()}  {name}\n" for name in ENTRIES[:2])


@pytest.mark.parametrize("folder, build, machine", EXECUTABLES, ids=[e[1] for e in EXECUTABLES])
def test_release_executable_is_small_undated_and_imports_only_system_dlls(releases, folder, build, machine):
    checkout, archive = releases[0]
    with zipfile.ZipFile(archive) as zf:
        data = zf.read(f"{folder}/OstrelServer.exe")
    assert len(data) <= MAX_EXE_SIZE
    # The COFF header after "PE\0\0": machine, section count, time stamp.
    (header,) = struct.unpack_from("<I", data, 0x3C)
    signature, found_machine, _, stamp = struct.unpack_from("<4sHHI", data, header)
    assert (signature, found_machine, stamp) == (b"PE\0\0", machine, 0)
    exe = checkout / "build" / "dist" / build / "OstrelServer.exe"
    dump = subprocess.run([f"{build}-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                          check=True).stdout
    imports = re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)
    assert imports and [dll for dll in imports if not SYSTEM_DLL.fullmatch(dll)] == []
