#ifndef OSTREL_JVMHOST_VM_LIBRARY_PATH_H
#define OSTREL_JVMHOST_VM_LIBRARY_PATH_H

#include <cstddef>

#include "launch/owned_strings.h"

/// The two VMs a Java runtime may have: the client VM, which the host takes
/// where there is one, and the server VM, the only one of every 64-bit runtime
/// and of every runtime from Java 9 on.
enum class VmKind { kClient, kServer };

/// Longest library path the host loads, terminator included (the platform's MAX_PATH).
constexpr std::size_t kVmLibraryPathLimit = 260;

/// "<directory>\jre1.6.0\bin\client\jvm.dll" (or "...\server\jvm.dll") as a
/// heap string of any length; a missing directory shows as "(null)", as the C
/// runtime's formatting renders it. Null when memory runs out.
OwnedString BuildVmLibraryPath(const char* directory, VmKind kind = VmKind::kClient);

/// True when `path` fits the loader's path limit.
bool VmLibraryPathFits(const char* path);

/// The C runtime libraries a Java runtime keeps in "jre1.6.0\bin\" rather than
/// beside jvm.dll, which imports one of them: the host loads those present
/// before jvm.dll, since the library search does not look there.
constexpr const char* kRuntimeLibraries[] = {"msvcr71.dll", "msvcr100.dll", "msvcr120.dll", "vcruntime140.dll"};

/// "<directory>\jre1.6.0\bin\<name>" as a heap string; null when memory runs out.
OwnedString BuildRuntimeLibraryPath(const char* directory, const char* name);

#endif
