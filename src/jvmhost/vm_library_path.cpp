#include "jvmhost/vm_library_path.h"

#include <cstring>

OwnedString BuildVmLibraryPath(const char* directory) {
  return FormatString("%s\\%s", directory != nullptr ? directory : "(null)", kVmLibraryRelativePath);
}

bool VmLibraryPathFits(const char* path) {
  return std::strlen(path) < kVmLibraryPathLimit;
}
