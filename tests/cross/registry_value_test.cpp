// The stored options value against Wine's real registry, in a key of the tests' own.
#include "launch/registry_value.h"

#include <gtest/gtest.h>

#include <string>

#include "launch/stored_options.h"

namespace {

constexpr char kTestKey[] = "Software\\OstrelServerTests\\Parameters";
constexpr char kMissingKey[] = "Software\\OstrelServerTests\\Missing";

class RegistryValue : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kMissingKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
  }

  void Put(DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExA(key_, "Options", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  // Reads through a buffer of kOptionsBufferSize; "<absent>" when the read fails.
  std::string Read() {
    std::string buffer(kOptionsBufferSize, '#');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!QueryStringValue(buffer.data(), &size, HKEY_CURRENT_USER, kTestKey, "Options")) {
      return "<absent>";
    }
    const std::size_t end = buffer.find('\0');
    EXPECT_NE(end, std::string::npos) << "not terminated within the buffer";
    return buffer.substr(0, end);
  }

  HKEY key_ = nullptr;
};

TEST_F(RegistryValue, StringTypesRead) {
  Put(REG_SZ, std::string("-Xmx256m|wrkdir=C:\\app", 23));
  EXPECT_EQ(Read(), "-Xmx256m|wrkdir=C:\\app");
  Put(REG_EXPAND_SZ, std::string("wrkdir=%SystemRoot%\\app\0", 25));
  EXPECT_EQ(Read(), "wrkdir=%SystemRoot%\\app");  // used unexpanded
}

TEST_F(RegistryValue, OtherTypesAndMissingReadAsAbsent) {
  EXPECT_EQ(Read(), "<absent>");
  const DWORD number = 42;
  ASSERT_EQ(RegSetValueExA(key_, "Options", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)),
            ERROR_SUCCESS);
  EXPECT_EQ(Read(), "<absent>");
  Put(REG_BINARY, std::string("abc\0", 4));
  EXPECT_EQ(Read(), "<absent>");
  char buffer[16];
  DWORD size = sizeof(buffer);
  EXPECT_EQ(QueryStringValue(buffer, &size, HKEY_CURRENT_USER, kMissingKey, "Options"), 0);
}

TEST_F(RegistryValue, LimitIsTheLargestStoredValue) {
  const std::string longest(kOptionsBufferSize - 1, 'x');
  Put(REG_SZ, longest + '\0');
  EXPECT_EQ(Read(), longest);
  Put(REG_SZ, longest + 'y' + '\0');
  EXPECT_EQ(Read(), "<absent>");
}

TEST_F(RegistryValue, UnterminatedValueNeverRunsPastTheBuffer) {
  Put(REG_SZ, "abc");  // written without its terminator
  EXPECT_EQ(Read(), "abc");
  Put(REG_SZ, std::string(kOptionsBufferSize, 'z'));  // fills the buffer, no room to terminate
  EXPECT_EQ(Read(), "<absent>");
  Put(REG_SZ, std::string(kOptionsBufferSize - 1, 'z'));
  EXPECT_EQ(Read(), std::string(kOptionsBufferSize - 1, 'z'));
}

TEST_F(RegistryValue, StoresWithTheGivenSize) {
  ASSERT_EQ(StoreStringValue("", 1, HKEY_CURRENT_USER, kTestKey, "Options"), 1);
  DWORD type = 0;
  BYTE data[8] = {0x55, 0x55};
  DWORD size = sizeof(data);
  ASSERT_EQ(RegQueryValueExA(key_, "Options", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(data[0], 0);
  ASSERT_EQ(StoreStringValue("a|b", 4, HKEY_CURRENT_USER, kTestKey, "Options"), 1);
  EXPECT_EQ(Read(), "a|b");
}

TEST_F(RegistryValue, StoreNeedsAnExistingKey) {
  EXPECT_EQ(StoreStringValue("x", 2, HKEY_CURRENT_USER, kMissingKey, "Options"), 0);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kMissingKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(RegistryValue, ParametersKeyIsCreatedAndReopened) {
  EXPECT_EQ(CreateParametersKey(HKEY_CURRENT_USER, kMissingKey), 0);
  EXPECT_EQ(CreateParametersKey(HKEY_CURRENT_USER, kMissingKey), 0);  // exists: opened
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kMissingKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  char key_class[32] = {};
  DWORD class_size = sizeof(key_class);
  ASSERT_EQ(RegQueryInfoKeyA(key, key_class, &class_size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(key_class, "LocalSystem");
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, kMissingKey);
  HKEY const not_a_key = reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x7EADBEE0));
  EXPECT_EQ(CreateParametersKey(not_a_key, "Parameters"), 1);
}

}  // namespace
