#include "jvmhost/vm_library_path.h"

#include <cstring>

OwnedString BuildVmLibraryPath(const char* directory) {
  return FormatString("%s\\%s", directory != nullptr ? directory : "(null)", kVmLibraryRelativePath);
}

bool VmLibraryPathFits(const char* path) {
  return std::strlen(path) < kVmLibraryPathLimit;
}

OwnedString BuildRuntimeLibraryPath(const char* directory, const char* name) {
  return FormatString("%s\\jre1.6.0\\bin\\%s", directory, name);
}

bool IsAbsoluteDirectory(const char* directory) {
  if (directory == nullptr) {
    return false;
  }
  const char drive = directory[0];
  const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  return (letter && directory[1] == ':' && directory[2] == '\\') || (drive == '\\' && directory[1] == '\\');
}
