#include "jvmhost/vm_output.h"

#include <gtest/gtest.h>

#include <string>

// The native build links a code page 932 lead-byte table: "ポ" is 0x83 0x7C.

namespace {

const std::string kPo = "\x83\x7C";

std::string Take(VmOutputTail& tail) {
  std::string out(kVmOutputLimit + 1, '#');
  const bool said = tail.Take(&out[0]);
  out.resize(out.find('\0'));
  EXPECT_EQ(said, !out.empty());
  return out;
}

void Append(VmOutputTail& tail, const std::string& text, bool cut = false) {
  tail.Append(text.data(), text.size(), cut);
}

TEST(VmOutputTail, KeepsEverythingUpToTheLimitAndEmptiesWhenTaken) {
  VmOutputTail tail;
  EXPECT_EQ(Take(tail), "");
  Append(tail, "Error occurred during initialization of VM\n");
  Append(tail, std::string(kVmOutputLimit - 44, 'x'));
  EXPECT_EQ(Take(tail), "Error occurred during initialization of VM\n" + std::string(kVmOutputLimit - 44, 'x'));
  EXPECT_TRUE(tail.empty());
  EXPECT_EQ(Take(tail), "");
}

TEST(VmOutputTail, DropsTheOldestText) {
  VmOutputTail tail;
  std::string all;
  for (int i = 0; i < 300; ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    Append(tail, line);
    all += line;
  }
  EXPECT_EQ(Take(tail), all.substr(all.size() - kVmOutputLimit));
}

// The cases where dropping or cutting would land inside a double-byte character.
struct CutCase {
  const char* name;
  std::string before;  // already kept
  std::string text;    // appended
  bool cut;
  std::string kept;
};

class DoubleByte : public ::testing::TestWithParam<CutCase> {};

TEST_P(DoubleByte, NoCharacterIsCutInTwo) {
  VmOutputTail tail;
  Append(tail, GetParam().before);
  Append(tail, GetParam().text, GetParam().cut);
  EXPECT_EQ(Take(tail), GetParam().kept);
}

const std::string kFill(kVmOutputLimit - 2, 'a');  // with "ポ" before it, the tail is full

INSTANTIATE_TEST_SUITE_P(
    VmOutputTail, DoubleByte,
    ::testing::Values(
        // Two bytes must go; the first character is double-byte, so both go with it.
        CutCase{"drop_ends_on_a_boundary", kPo + kFill, "bc", false, kFill + "bc"},
        // One byte must go, but it leads a character: its trail byte goes too.
        CutCase{"drop_would_leave_a_trail_byte", kPo + kFill, "b", false, kFill + "b"},
        // A text that fills the tail alone keeps its end, from a character start.
        CutCase{"long_text_starts_on_a_boundary", "", "a" + kPo + std::string(kVmOutputLimit - 1, 'z'), false,
                std::string(kVmOutputLimit - 1, 'z')},
        // A formatted text cut at its end drops the lead byte that lost its trail...
        CutCase{"cut_after_a_lead_byte", "", "ab" + kPo.substr(0, 1), true, "ab"},
        // ...but keeps a trail byte that happens to be '|', and a complete one.
        CutCase{"cut_after_a_whole_character", "", "ab" + kPo, true, "ab" + kPo},
        // Not cut: a lead byte at the end stays, its trail byte comes next.
        CutCase{"lead_byte_at_the_end_of_a_whole_text", "", "ab\x83", false, "ab\x83"}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

TEST(VmOutputTail, BoundariesAreFoundFromTheStart) {
  const std::string text = kPo + "a" + kPo;  // 83 7C 61 83 7C
  EXPECT_EQ(CharacterBoundaryFrom(text.data(), text.size(), 0), 0u);
  EXPECT_EQ(CharacterBoundaryFrom(text.data(), text.size(), 1), 2u);  // 0x7C is a trail byte here
  EXPECT_EQ(CharacterBoundaryFrom(text.data(), text.size(), 3), 3u);
  EXPECT_EQ(CharacterBoundaryFrom(text.data(), text.size(), 4), 5u);
  EXPECT_EQ(WholeCharactersLength(text.data(), 4), 3u);
  EXPECT_EQ(WholeCharactersLength(text.data(), 5), 5u);
}

}  // namespace
