"""The built executables and test VMs, read with objdump: no Wine needed."""

import re
import subprocess
from collections import namedtuple

import pytest

from winehost import BUILD_DIR, EXE_NAME, I686_BUILD_DIR, REPO

Target = namedtuple("Target", "name build_dir pe_format objdump")
TARGETS = [
    Target("x86_64", BUILD_DIR, "pei-x86-64", "x86_64-w64-mingw32-objdump"),
    Target("i686", I686_BUILD_DIR, "pei-i386", "i686-w64-mingw32-objdump"),
    # The clang builds (make clang), linked by another linker.
    Target("clang-x86_64", REPO / "build" / "clang-x86_64", "pei-x86-64", "x86_64-w64-mingw32-objdump"),
    Target("clang-i686", REPO / "build" / "clang-i686", "pei-i386", "i686-w64-mingw32-objdump"),
]
BINARIES = [EXE_NAME, "testvm/jvm.dll", "testvm/jvm_noentry.dll", "testvm/msvcr71.dll"]
# Linked statically, the binaries need nothing beyond what every Windows has.
SYSTEM_DLL = re.compile(r"(kernel32|advapi32|msvcrt|user32|api-ms-win-crt-[a-z0-9-]+)\.dll", re.I)
VM_ENTRY = "JNI_CreateJavaVM"

PeInfo = namedtuple("PeInfo", "pe_format imports exports")


def read_pe(target, name):
    path = target.build_dir / name
    if not path.exists():
        pytest.fail(f"{path} is missing: build the {target.name} preset first", pytrace=False)
    text = subprocess.run([target.objdump, "-p", str(path)], capture_output=True, text=True,
                          check=True, timeout=60).stdout
    pe_format = re.search(r"file format (\S+)", text).group(1)
    imports = re.findall(r"^\s*DLL Name: (\S+)", text, re.M)
    # Export names follow the "[Ordinal/Name Pointer] Table" heading, one per line.
    _, _, names = text.partition("[Ordinal/Name Pointer] Table")
    exports = re.findall(r"^\s*\[\s*\d+\] (\S+)$", names, re.M)
    return PeInfo(pe_format, imports, exports)


@pytest.fixture(params=TARGETS, ids=[t.name for t in TARGETS])
def target(request):
    target = request.param
    if not target.build_dir.is_dir():
        pytest.skip(f"no {target.name} build at {target.build_dir} "
                    f"(cmake --preset {target.name} && cmake --build build/{target.name})")
    return target


@pytest.mark.parametrize("name", BINARIES)
def test_binary_is_built_for_its_target_and_imports_only_system_dlls(target, name):
    pe = read_pe(target, name)
    assert pe.pe_format == target.pe_format
    assert any(dll.lower() == "kernel32.dll" for dll in pe.imports), pe.imports
    assert [dll for dll in pe.imports if not SYSTEM_DLL.fullmatch(dll)] == []


def test_runtime_importing_vm_imports_its_c_library_and_system_dlls(target):
    imports = read_pe(target, "testvm/jvm_msvcr71.dll").imports
    assert [dll for dll in imports if not SYSTEM_DLL.fullmatch(dll)] == ["msvcr71.dll"], imports


@pytest.mark.parametrize("name, has_entry", [("testvm/jvm.dll", True),
                                             ("testvm/jvm_noentry.dll", False),
                                             ("testvm/jvm_msvcr71.dll", True)])
def test_vm_entry_is_exported_undecorated(target, name, has_entry):
    exports = read_pe(target, name).exports
    assert (VM_ENTRY in exports) == has_entry, exports
    # A stdcall name as the compiler decorates it would not be found by its plain name.
    assert [e for e in exports if VM_ENTRY in e and e != VM_ENTRY] == []
