"""The release behind `make dist` (see scripts/dist).

Nothing of the build machine may reach the zip: the executables are linked
without a time stamp and compiled without the checkout's path (cmake/windows.cmake),
and every zip entry carries the time of the last commit (SOURCE_DATE_EPOCH,
which the compiler honours too) and fixed attributes, in a fixed order.
"""

import hashlib
import os
import subprocess
import sys
import time
import zipfile
from pathlib import Path

TOP = Path(sys.argv[1]).resolve()
DIST = TOP / "build" / "dist"
# Folder in the zip <- the preset that builds it.
TARGETS = [("x86", "dist-i686"), ("x64", "dist-x86_64")]
EXE = "OstrelServer.exe"
JOBS = os.environ.get("JOBS", "2")
ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can carry


def source_date_epoch():
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", str(TOP), "log", "-1", "--format=%ct"], capture_output=True, text=True,
                             check=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        raise SystemExit(f"dist: no git history to date the release ({error}); set SOURCE_DATE_EPOCH") from None
    return int(out)


def build(preset, env):
    for command in (["cmake", "--preset", preset], ["cmake", "--build", "--preset", preset, "-j", JOBS]):
        subprocess.run(command, cwd=TOP, env=env, check=True, stdout=subprocess.DEVNULL)
    return DIST / preset.removeprefix("dist-")


def entry(name, epoch):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(epoch, ZIP_EPOCH))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix, so that the attributes below are read as such
    info.external_attr = 0o100644 << 16
    return info


def main():
    epoch = source_date_epoch()
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    files = []
    for folder, preset in TARGETS:
        build_dir = build(preset, env)
        files.append((f"{folder}/{EXE}", (build_dir / EXE).read_bytes()))
    version = (build_dir / "version.txt").read_text().strip()
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in files)
    files += [("README.md", (TOP / "README.md").read_bytes()), ("LICENSE", (TOP / "LICENSE").read_bytes()),
              ("SHA256SUMS", sums.encode())]

    archive = DIST / f"OstrelServer-{version}.zip"
    partial = archive.with_suffix(".zip.part")
    with zipfile.ZipFile(partial, "w") as zf:
        for name, data in files:
            zf.writestr(entry(name, epoch), data, compresslevel=9)
    partial.replace(archive)
    print(f"dist: {archive.relative_to(TOP)} ({archive.stat().st_size} bytes)")
    for name, data in files[:len(TARGETS)]:
        print(f"  {name}: {len(data)} bytes")


main()
