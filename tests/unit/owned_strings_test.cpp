#include "launch/owned_strings.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(FormatString, SizesToTheResult) {
  const std::string big(10000, 'q');
  OwnedString s = FormatString("<%s|%d>", big.c_str(), -42);
  ASSERT_TRUE(s);
  EXPECT_EQ(std::string(s.get()), "<" + big + "|-42>");
  OwnedString empty = FormatString("%s", "");
  ASSERT_TRUE(empty);
  EXPECT_STREQ(empty.get(), "");
}

TEST(StringList, MoveTransfersOwnership) {
  StringList a;
  ASSERT_TRUE(a.Allocate(2));
  ASSERT_TRUE(a.Set(0, "one", 3));
  ASSERT_TRUE(a.Set(1, "twoXX", 3));
  StringList b(std::move(a));
  EXPECT_EQ(a.count(), 0u);
  EXPECT_EQ(a.items(), nullptr);
  ASSERT_EQ(b.count(), 2u);
  EXPECT_STREQ(b[0], "one");
  EXPECT_STREQ(b[1], "two");
  StringList c;
  c = std::move(b);
  EXPECT_STREQ(c[1], "two");
  c = std::move(c);  // self-move keeps the contents
  EXPECT_STREQ(c[0], "one");
}

TEST(StringList, AllocateZeroHoldsNoArray) {
  StringList a;
  ASSERT_TRUE(a.Allocate(0));
  EXPECT_EQ(a.items(), nullptr);
  EXPECT_EQ(a.count(), 0u);
}

TEST(StringList, UnsetSlotsAreNullAndSetReplaces) {
  StringList a;
  ASSERT_TRUE(a.Allocate(3));
  EXPECT_EQ(a[2], nullptr);
  ASSERT_TRUE(a.Set(2, "first", 5));
  ASSERT_TRUE(a.Set(2, "second", 6));  // the earlier copy is released, not leaked
  EXPECT_STREQ(a[2], "second");
}

}  // namespace
