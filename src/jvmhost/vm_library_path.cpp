#include "jvmhost/vm_library_path.h"

#include <cstring>

#include "launch/path_text.h"

OwnedString BuildVmLibraryPath(const char* directory, VmKind kind) {
  const char* below = kind == VmKind::kClient ? "jre1.6.0\\bin\\client\\jvm.dll" : "jre1.6.0\\bin\\server\\jvm.dll";
  return JoinPath(directory != nullptr ? directory : "(null)", below);
}

bool VmLibraryPathFits(const char* path) {
  return std::strlen(path) < kVmLibraryPathLimit;
}

OwnedString BuildRuntimeLibraryPath(const char* directory, const char* name) {
  OwnedString bin = JoinPath(directory, "jre1.6.0\\bin");
  return bin ? JoinPath(bin.get(), name) : OwnedString();
}
