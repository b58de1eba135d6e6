#include "launch/text_compare.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandWords, MatchWholeWordInAnyAsciiCase) {
  for (const char* text : {"install", "INSTALL", "Install", "iNsTaLl"}) {
    EXPECT_TRUE(EqualsIgnoreAsciiCase(text, "install")) << text;
  }
  for (const char* text : {"", "instal", "installx", "install ", " install", "inst\xC3\x81ll"}) {
    EXPECT_FALSE(EqualsIgnoreAsciiCase(text, "install")) << text;
  }
}

TEST(CommandWords, OnlyAsciiLettersFold) {
  // '[' is 'Z' + 1 and '{' is 'z' + 1: folding by bit tricks would confuse them.
  EXPECT_FALSE(EqualsIgnoreAsciiCase("[", "{"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("@", "`"));
  // Latin-1 'É' (0xC9) and 'é' (0xE9) are not folded: only ASCII letters are.
  EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC9", "\xE9"));
}

TEST(CommandWords, DoubleByteTrailNeverMatchesAlone) {
  // Shift JIS 0x83 0x65 has the trail byte 'e'; the lead byte mismatches first.
  EXPECT_FALSE(EqualsIgnoreAsciiCase("\x83" "execute", "execute"));
  EXPECT_FALSE(StartsWithIgnoreAsciiCase("\x83wrkdir=", "wrkdir="));
}

TEST(Prefix, MatchesCaseInsensitivelyOverItsLength) {
  EXPECT_TRUE(StartsWithIgnoreAsciiCase("WRKDIR=x", "wrkdir="));
  EXPECT_TRUE(StartsWithIgnoreAsciiCase("wrkdir=", "wrkdir="));
  EXPECT_TRUE(StartsWithIgnoreAsciiCase("anything", ""));
  EXPECT_FALSE(StartsWithIgnoreAsciiCase("wrkdir", "wrkdir="));
  EXPECT_FALSE(StartsWithIgnoreAsciiCase("", "wrkdir="));
  EXPECT_FALSE(StartsWithIgnoreAsciiCase("wrkdir:x", "wrkdir="));
}

}  // namespace
