#ifndef OSTREL_JVMHOST_VM_LIBRARY_PATH_H
#define OSTREL_JVMHOST_VM_LIBRARY_PATH_H

#include <cstddef>

#include "launch/owned_strings.h"

/// The VM library below the working directory.
constexpr char kVmLibraryRelativePath[] = "jre1.6.0\\bin\\client\\jvm.dll";

/// Longest library path the host loads, terminator included (the platform's MAX_PATH).
constexpr std::size_t kVmLibraryPathLimit = 260;

/// "<directory>\jre1.6.0\bin\client\jvm.dll" as a heap string of any length; a
/// missing directory shows as "(null)", as the C runtime's formatting renders
/// it. Null when memory runs out.
OwnedString BuildVmLibraryPath(const char* directory);

/// True when `path` fits the loader's path limit.
bool VmLibraryPathFits(const char* path);

#endif
