#include "jvmhost/vm_library_path.h"
#include "launch/path_text.h"

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

TEST(VmLibraryPath, ServerVmLiesBesideTheClientFolder) {
  OwnedString path = BuildVmLibraryPath("C:\\app", VmKind::kServer);
  ASSERT_TRUE(path);
  EXPECT_STREQ(path.get(), "C:\\app\\jre1.6.0\\bin\\server\\jvm.dll");
}

// The native build links a code page 932 table: "\x95\x5C" is one character
// whose trail byte is a backslash.
TEST(PathText, JoinAddsOneRealSeparator) {
  struct Row {
    const char* directory;
    const char* joined;
  } rows[] = {
      {"C:\\app", "C:\\app\\x"},
      {"C:\\", "C:\\x"},                       // a root ends in its separator
      {"\\\\server\\share", "\\\\server\\share\\x"},
      {"C:\\\x95\x5C", "C:\\\x95\x5C\\x"},      // a trail byte is no separator
      {"C:\\\x95\x5C\\", "C:\\\x95\x5C\\x"},
      {"", "\\x"},
  };
  for (const Row& row : rows) {
    OwnedString joined = JoinPath(row.directory, "x");
    ASSERT_TRUE(joined);
    EXPECT_STREQ(joined.get(), row.joined) << row.directory;
  }
}

TEST(PathText, FinalBackslashGoesExceptFromADriveRoot) {
  struct Row {
    const char* full;
    const char* trimmed;
  } rows[] = {
      {"C:\\app\\", "C:\\app"},
      {"C:\\", "C:\\"},
      {"\\\\server\\share\\", "\\\\server\\share"},
      {"C:\\\x95\x5C", "C:\\\x95\x5C"},           // ends in a trail byte: kept whole
      {"C:\\\x95\x5C\\", "C:\\\x95\x5C"},
      {"C:\\app", "C:\\app"},
      {"", ""},
  };
  for (const Row& row : rows) {
    std::string path = row.full;
    TrimFinalBackslash(&path[0]);
    EXPECT_STREQ(path.c_str(), row.trimmed) << row.full;
  }
}

TEST(PathText, RelativePathsAndFolders) {
  for (const char* relative : {"app", ".\\app", "..\\app", "", "1:\\app", "\x95\x5C"}) {
    EXPECT_TRUE(IsRelativePath(relative)) << relative;
  }
  // A drive's current directory and the current drive's root are the system's to resolve.
  for (const char* other : {"C:\\app", "z:", "C:app", "\\app", "/app", "\\\\server\\share"}) {
    EXPECT_FALSE(IsRelativePath(other)) << other;
  }
  struct Row {
    const char* path;
    std::size_t folder;
  } rows[] = {{"C:\\Ostrel\\OstrelServer.exe", 9}, {"C:\\x.exe", 2}, {"x.exe", 0},
              {"C:\\\x95\x5C.exe", 2}, {"Z:/a/b.exe", 4}};
  for (const Row& row : rows) {
    EXPECT_EQ(FolderLength(row.path), row.folder) << row.path;
  }
}

}  // namespace
