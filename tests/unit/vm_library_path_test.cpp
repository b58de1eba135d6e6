#include "jvmhost/vm_library_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VmLibraryPath, BelowTheWorkingDirectory) {
  OwnedString path = BuildVmLibraryPath("C:\\app");
  ASSERT_TRUE(path);
  EXPECT_STREQ(path.get(), "C:\\app\\jre1.6.0\\bin\\client\\jvm.dll");
}

TEST(VmLibraryPath, MissingDirectoryShowsAsNull) {
  OwnedString path = BuildVmLibraryPath(nullptr);
  ASSERT_TRUE(path);
  EXPECT_STREQ(path.get(), "(null)\\jre1.6.0\\bin\\client\\jvm.dll");
}

TEST(VmLibraryPath, LimitIsTheLoadersPathLength) {
  const std::size_t suffix = std::string("\\jre1.6.0\\bin\\client\\jvm.dll").size();
  // 259 characters fit the 260-byte buffer with the terminator; 260 do not.
  const std::string fits(259 - suffix, 'd');
  const std::string too_long(260 - suffix, 'd');
  OwnedString a = BuildVmLibraryPath(fits.c_str());
  OwnedString b = BuildVmLibraryPath(too_long.c_str());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(std::string(a.get()).size(), 259u);
  EXPECT_TRUE(VmLibraryPathFits(a.get()));
  EXPECT_FALSE(VmLibraryPathFits(b.get()));
}

TEST(VmLibraryPath, VeryLongDirectoryIsBuiltWhole) {
  const std::string directory(4000, 'x');
  OwnedString path = BuildVmLibraryPath(directory.c_str());
  ASSERT_TRUE(path);
  EXPECT_EQ(std::string(path.get()), directory + "\\jre1.6.0\\bin\\client\\jvm.dll");
  EXPECT_FALSE(VmLibraryPathFits(path.get()));
}

TEST(VmLibraryPath, RuntimeLibrariesLieInTheBinFolder) {
  OwnedString path = BuildRuntimeLibraryPath("C:\\app", "msvcr71.dll");
  ASSERT_TRUE(path);
  EXPECT_STREQ(path.get(), "C:\\app\\jre1.6.0\\bin\\msvcr71.dll");
}

TEST(VmLibraryPath, OnlyDriveAndUncPathsAreAbsolute) {
  for (const char* absolute : {"C:\\app", "z:\\", "\\\\server\\share\\app", "\\\\"}) {
    EXPECT_TRUE(IsAbsoluteDirectory(absolute)) << absolute;
  }
  for (const char* relative : {"app", "C:app", "C:", "\\app", ".\\app", "1:\\app", "", "/app", "C:/app"}) {
    EXPECT_FALSE(IsAbsoluteDirectory(relative)) << relative;
  }
  EXPECT_FALSE(IsAbsoluteDirectory(nullptr));
}

}  // namespace
