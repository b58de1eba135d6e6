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

/// The C runtime libraries a Java runtime keeps in "jre1.6.0\bin\" rather than
/// beside jvm.dll, which imports one of them: the host loads those present
/// before jvm.dll, since the library search does not look there.
constexpr const char* kRuntimeLibraries[] = {"msvcr71.dll", "msvcr100.dll", "msvcr120.dll", "vcruntime140.dll"};

/// "<directory>\jre1.6.0\bin\<name>" as a heap string; null when memory runs out.
OwnedString BuildRuntimeLibraryPath(const char* directory, const char* name);

/// True for a directory the loader takes as it stands: a drive letter, a colon
/// and a backslash ("C:\app"), or two backslashes (a UNC path). Relative forms
/// ("app", "C:app", "\app") and null are not.
bool IsAbsoluteDirectory(const char* directory);

#endif
