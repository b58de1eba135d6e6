#include "launch/launch_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct Selection {
  Strings vm_options;
  Strings arguments;
  const char* work_dir;
  bool vm_array_null;
  bool argument_array_null;
};

Strings ToStrings(const StringList& list) {
  Strings out;
  for (std::size_t i = 0; i < list.count(); ++i) {
    out.emplace_back(list[i]);
  }
  return out;
}

Selection Select(const std::vector<const char*>& entries) {
  StringList vm_options;
  StringList arguments;
  EXPECT_TRUE(SelectVmOptions(entries.data(), entries.size(), &vm_options));
  EXPECT_TRUE(SelectAppArguments(entries.data(), entries.size(), &arguments));
  return Selection{ToStrings(vm_options), ToStrings(arguments), FindWorkDir(entries.data(), entries.size()),
                   vm_options.items() == nullptr, arguments.items() == nullptr};
}

struct Case {
  const char* name;
  std::vector<const char*> entries;
  Strings vm_options;
  Strings arguments;
  const char* work_dir;  // null: none
};

class LaunchSelection : public ::testing::TestWithParam<Case> {};

TEST_P(LaunchSelection, DividesEntries) {
  const Case& c = GetParam();
  const Selection s = Select(c.entries);
  EXPECT_EQ(s.vm_options, c.vm_options);
  EXPECT_EQ(s.arguments, c.arguments);
  if (c.work_dir == nullptr) {
    EXPECT_EQ(s.work_dir, nullptr);
  } else {
    ASSERT_NE(s.work_dir, nullptr);
    EXPECT_STREQ(s.work_dir, c.work_dir);
  }
  // A selection that finds nothing holds no array at all.
  EXPECT_EQ(s.vm_array_null, c.vm_options.empty());
  EXPECT_EQ(s.argument_array_null, c.arguments.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LaunchSelection,
    ::testing::Values(
        Case{"Mixed", {"-Xmx256m", "wrkdir=C:\\app", "-Dfoo=1", "input.txt", "/Xrs"},
             {"-Xmx256m", "-Dfoo=1", "/Xrs"}, {"input.txt"}, "C:\\app"},
        Case{"FirstWorkDirWinsAnyCase", {"WRKDIR=D:\\x", "wrkdir=E:\\y"}, {}, {}, "D:\\x"},
        Case{"MixedCaseWorkDir", {"WrkDir=C:\\a b"}, {}, {}, "C:\\a b"},
        Case{"BareWorkDirIsDropped", {"wrkdir="}, {}, {}, nullptr},
        Case{"BareWorkDirDoesNotHideLaterOne", {"wrkdir=", "wrkdir=C:\\later"}, {}, {}, "C:\\later"},
        Case{"LowerCaseOptionLettersAreArguments", {"-dfoo", "-xms", "/d", "/x"}, {}, {"-dfoo", "-xms", "/d", "/x"},
             nullptr},
        Case{"DashAloneAndEmptyAreArguments", {"-", "", "/"}, {}, {"-", "", "/"}, nullptr},
        Case{"TwoByteOptionsAlone", {"-D", "/X"}, {"-D", "/X"}, {}, nullptr},
        Case{"OptionNamingWorkDir", {"-Dwrkdir=x", "wrkdir=-Dx"}, {"-Dwrkdir=x"}, {}, "-Dx"},
        Case{"WorkDirPrefixMustBeWhole", {"wrkdir", "wrkdirX=1", "xwrkdir=1"}, {}, {"wrkdir", "wrkdirX=1", "xwrkdir=1"},
             nullptr},
        Case{"DuplicatesKeptInOrder", {"b", "-Xa", "a", "-Xa", "b"}, {"-Xa", "-Xa"}, {"b", "a", "b"}, nullptr},
        Case{"SlashFormsKeptAsWritten", {"/Dx=1", "-Xss1m"}, {"/Dx=1", "-Xss1m"}, {}, nullptr},
        // Shift JIS "ポ" is 0x83 0x7C; lead bytes never take part in the prefixes.
        Case{"DoubleByteEntries", {"\x83\x7C", "wrkdir=C:\\\x95\x5C"}, {}, {"\x83\x7C"}, "C:\\\x95\x5C"},
        Case{"Empty", {}, {}, {}, nullptr}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(LaunchSelection, WorkDirPointsIntoTheEntry) {
  const char* entries[] = {"x", "wrkdir=C:\\app"};
  EXPECT_EQ(FindWorkDir(entries, 2), entries[1] + 7);
}

TEST(LaunchSelection, EntriesOfAnyLengthAreCopiedWhole) {
  const std::string long_option = "-D" + std::string(5000, 'o');
  const std::string long_argument(70000, 'a');
  const char* entries[] = {long_option.c_str(), long_argument.c_str()};
  const Selection s = Select({entries[0], entries[1]});
  ASSERT_EQ(s.vm_options.size(), 1u);
  EXPECT_EQ(s.vm_options[0], long_option);
  ASSERT_EQ(s.arguments.size(), 1u);
  EXPECT_EQ(s.arguments[0], long_argument);
}

TEST(LaunchSelection, SelectionsAreCopiesNotAliases) {
  char option[] = "-Xmx1m";
  char* entries[] = {option};
  StringList selected;
  ASSERT_TRUE(SelectVmOptions(entries, 1, &selected));
  option[2] = 'Z';
  EXPECT_STREQ(selected[0], "-Xmx1m");
  EXPECT_NE(static_cast<const void*>(selected[0]), static_cast<const void*>(option));
}

TEST(LaunchSelection, ReplacesPreviousContentOfTheOutput) {
  const char* first[] = {"-Xa", "-Xb"};
  const char* second[] = {"arg"};
  StringList out;
  ASSERT_TRUE(SelectVmOptions(first, 2, &out));
  ASSERT_EQ(out.count(), 2u);
  ASSERT_TRUE(SelectVmOptions(second, 1, &out));
  EXPECT_EQ(out.count(), 0u);
  EXPECT_EQ(out.items(), nullptr);
}

TEST(ClassifyEntry, DecidesByPrefix) {
  EXPECT_EQ(ClassifyEntry("-Dx"), EntryKind::kVmOption);
  EXPECT_EQ(ClassifyEntry("/Xrs"), EntryKind::kVmOption);
  EXPECT_EQ(ClassifyEntry("wRkDiR=z"), EntryKind::kWorkDir);
  EXPECT_EQ(ClassifyEntry("wrkdir="), EntryKind::kWorkDir);
  EXPECT_EQ(ClassifyEntry("-Y"), EntryKind::kAppArgument);
  EXPECT_EQ(ClassifyEntry("\\Dx"), EntryKind::kAppArgument);
}

}  // namespace
