#include "launch/stored_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The native build links a code page 932 lead-byte table (ansi_code_page_cp932.cpp).

namespace {

using Strings = std::vector<std::string>;

std::string Join(const std::vector<const char*>& argv, int first) {
  OwnedString joined = JoinArguments(first, static_cast<int>(argv.size()), argv.data());
  EXPECT_TRUE(joined);
  return joined ? std::string(joined.get()) : std::string("<null>");
}

Strings Split(const std::string& text, bool* array_null = nullptr) {
  StringList list;
  EXPECT_TRUE(SplitOptions(text.c_str(), &list));
  if (array_null != nullptr) {
    *array_null = list.items() == nullptr;
  }
  Strings out;
  for (std::size_t i = 0; i < list.count(); ++i) {
    out.emplace_back(list[i]);
  }
  return out;
}

struct JoinCase {
  const char* name;
  std::vector<const char*> argv;
  int first;
  const char* joined;
};

class Joining : public ::testing::TestWithParam<JoinCase> {};

TEST_P(Joining, JoinsWithOneBlank) {
  EXPECT_EQ(Join(GetParam().argv, GetParam().first), GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Joining,
    ::testing::Values(JoinCase{"Nothing", {"exe", "install"}, 2, ""},
                      JoinCase{"FirstPastEnd", {"exe"}, 5, ""},
                      JoinCase{"One", {"exe", "install", "-Xmx256m"}, 2, "-Xmx256m"},
                      JoinCase{"Several", {"exe", "install", "-Xmx256m", "wrkdir=C:\\app"}, 2, "-Xmx256m wrkdir=C:\\app"},
                      JoinCase{"BarForm", {"exe", "install", "-Xmx256m|wrkdir=C:\\Program Files\\app"}, 2,
                               "-Xmx256m|wrkdir=C:\\Program Files\\app"},
                      JoinCase{"EmptyArgumentsKeepTheirBlanks", {"exe", "install", "", "a", ""}, 2, " a "}),
    [](const ::testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });

TEST(Joining, LongerThanAnyBufferIsJoinedWhole) {
  const std::string a(3000, 'a');
  const std::string b(3000, 'b');
  EXPECT_EQ(Join({"exe", "install", a.c_str(), b.c_str()}, 2), a + " " + b);
}

struct SplitCase {
  const char* name;
  std::string text;
  Strings entries;
};

class Splitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Splitting, GivesTheEntries) {
  bool array_null = false;
  EXPECT_EQ(Split(GetParam().text, &array_null), GetParam().entries);
  EXPECT_EQ(array_null, GetParam().entries.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Splitting,
    ::testing::Values(
        SplitCase{"Empty", "", {}},
        SplitCase{"One", "-Xmx256m", {"-Xmx256m"}},
        SplitCase{"BlankJoinedStaysOne", "-Xmx256m wrkdir=C:\\app", {"-Xmx256m wrkdir=C:\\app"}},
        SplitCase{"Bars", "-Xmx256m|wrkdir=C:\\Program Files\\app", {"-Xmx256m", "wrkdir=C:\\Program Files\\app"}},
        SplitCase{"LeadingTrailingRepeated", "a||b|", {"a", "b"}},
        SplitCase{"Surrounded", "|x|", {"x"}},
        SplitCase{"SeparatorsOnly", "||", {}},
        SplitCase{"OneSeparator", "|", {}},
        SplitCase{"BlanksKept", " a | b ", {" a ", " b "}},
        SplitCase{"BlankEntry", "a| |b", {"a", " ", "b"}},
        // Shift JIS "ポ" is 0x83 0x7C: its trail byte is '|' and must not split.
        SplitCase{"TrailByteBar", "wrkdir=C:\\\x83\x7C|x", {"wrkdir=C:\\\x83\x7C", "x"}},
        SplitCase{"TrailByteBarOnly", "\x83\x7C", {"\x83\x7C"}},
        SplitCase{"TrailByteBarThenSeparator", "\x83\x7C|\x83\x7C", {"\x83\x7C", "\x83\x7C"}},
        // "表" is 0x95 0x5C: a trail-byte backslash is just part of the text.
        SplitCase{"TrailByteBackslash", "\x95\x5C|\x95\x5C\\", {"\x95\x5C", "\x95\x5C\\"}},
        // A lead byte as the last byte has no trail: it is kept as it is.
        SplitCase{"LeadByteLast", "a|\x83", {"a", "\x83"}},
        SplitCase{"LeadByteBeforeEnd", "\x83", {"\x83"}},
        // Single-byte katakana (0xA1-0xDF) are no lead bytes: the '|' after them splits.
        SplitCase{"SingleByteKana", "\xB1|\xB2", {"\xB1", "\xB2"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(Splitting, RoundTripOfJoinedArguments) {
  const std::string joined = Join({"exe", "install", "-Xmx256m", "wrkdir=C:\\app"}, 2);
  EXPECT_EQ(Split(joined), Strings({"-Xmx256m wrkdir=C:\\app"}));
}

TEST(Splitting, TextIsLeftUnchanged) {
  const std::string text = "a|b||c";
  std::string copy = text;
  Split(copy);
  EXPECT_EQ(copy, text);
}

TEST(Splitting, LongestStoredValue) {
  std::string text(kOptionsBufferSize - 1, 'x');
  text[1000] = '|';
  const Strings entries = Split(text);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].size() + entries[1].size(), kOptionsBufferSize - 2);
}

}  // namespace
