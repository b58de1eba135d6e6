// The system's error text as the console commands show it. Wine's wording
// differs from Windows', so expectations come from FormatMessageA itself.
#include "service/system_error_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fakes.h"

namespace {

// The system's own text for `code`, inserts left alone; empty when there is none.
std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string result(text != nullptr ? text : "", length);
  ::LocalFree(text);
  return result;
}

std::string Format(DWORD code, std::size_t size) {
  std::string buffer(size, '#');
  SetLastError(code);
  char* result = FormatSystemErrorText(buffer.data(), size);
  EXPECT_EQ(result, buffer.data());
  return std::string(result);
}

class SystemErrorText : public ::testing::Test {
 protected:
  void SetUp() override { fake.Reset(); }
  // Every buffer the system allocated was released, whatever the result.
  void TearDown() override { EXPECT_EQ(fake.local_frees, fake.format_message_buffers); }
};

TEST_F(SystemErrorText, CutsTheLineBreakAndAppendsTheCode) {
  const std::string text = SystemText(ERROR_ACCESS_DENIED);
  ASSERT_GE(text.size(), 2u);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(Format(ERROR_ACCESS_DENIED, kSystemErrorTextSize), text.substr(0, text.size() - 2) + " (0x5)");
  EXPECT_EQ(fake.format_message_buffers.size(), 1u);
}

TEST_F(SystemErrorText, CodeInLowerCaseHexWithoutLeadingZeros) {
  const std::string text = SystemText(ERROR_SERVICE_EXISTS);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(Format(ERROR_SERVICE_EXISTS, kSystemErrorTextSize), text.substr(0, text.size() - 2) + " (0x431)");
}

TEST_F(SystemErrorText, AsksForNoInserts) {
  Format(ERROR_ACCESS_DENIED, kSystemErrorTextSize);
  ASSERT_EQ(fake.format_message_flags.size(), 1u);
  EXPECT_EQ(fake.format_message_flags[0], 0x3100u | FORMAT_MESSAGE_IGNORE_INSERTS);
}

// The code shown is the one GetLastError gives after the text was fetched.
TEST_F(SystemErrorText, CodeIsReadAgainAfterTheText) {
  const std::string text = SystemText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  fake.error_after_format_message = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(Format(ERROR_ACCESS_DENIED, kSystemErrorTextSize), text.substr(0, text.size() - 2) + " (0x57)");
}

TEST_F(SystemErrorText, TextWithAnInsertIsShownAsItIs) {
  fake.format_message_text = "The file %1 is bad.\r\n";
  EXPECT_EQ(Format(ERROR_BAD_EXE_FORMAT, kSystemErrorTextSize), "The file %1 is bad. (0xc1)");
}

TEST_F(SystemErrorText, RealSystemTextWithInsertDoesNotCrash) {
  // Whichever system texts carry "%1", none may be expanded from missing arguments.
  int found = 0;
  for (DWORD code = 1; code < 2000 && found < 3; ++code) {
    const std::string text = SystemText(code);
    if (text.find("%1") == std::string::npos || text.size() + 14 > kSystemErrorTextSize) {
      continue;
    }
    ++found;
    const std::string result = Format(code, kSystemErrorTextSize);
    EXPECT_NE(result.find("%1"), std::string::npos) << code;
  }
  if (found == 0) {
    GTEST_SKIP() << "no system text with an insert below code 2000";
  }
}

TEST_F(SystemErrorText, EmptyWhenTheResultDoesNotFit) {
  const std::string text = SystemText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  const std::size_t fits = text.size() + 14;
  EXPECT_EQ(Format(ERROR_ACCESS_DENIED, fits - 1), "");
  EXPECT_NE(Format(ERROR_ACCESS_DENIED, fits), "");
  EXPECT_EQ(fake.format_message_buffers.size(), 2u);
}

TEST_F(SystemErrorText, EmptyWhenTheCodeHasNoText) {
  EXPECT_EQ(Format(0x2000ABCDu, kSystemErrorTextSize), "");
  EXPECT_TRUE(fake.format_message_buffers.empty());
}

TEST_F(SystemErrorText, ProcessWideBufferForTheCurrentError) {
  const std::string text = SystemText(ERROR_FILE_NOT_FOUND);
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(std::string(::SystemErrorText()), text.substr(0, text.size() - 2) + " (0x2)");
}

}  // namespace
