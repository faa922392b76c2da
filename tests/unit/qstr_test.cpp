#include "text/qstr.h"

#include <gtest/gtest.h>

#include <string>

TEST(QStr, CapacityGrowsToLengthPlus32AndNeverShrinks) {
  QStr s(32);
  EXPECT_TRUE(s.IsEmpty());
  s.Assign("");
  EXPECT_EQ(s.Capacity(), 32);
  s.Assign("x");
  EXPECT_EQ(s.Capacity(), 33);
  s.Assign(std::string(100, 'a').c_str());
  EXPECT_EQ(s.Capacity(), 132);
  s.Assign("0123456789");
  EXPECT_EQ(s.Capacity(), 132);
  EXPECT_STREQ(s.CStr(), "0123456789");
}

TEST(QStr, NullEmptiesWithoutTouchingTheBuffer) {
  QStr s(32);
  s.Assign("abc");
  int cap = s.Capacity();
  s.Assign(nullptr);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(s.Capacity(), cap);
}

TEST(QStr, ReleaseThenAssignObtainsAFreshBuffer) {
  QStr s(32);
  s.Release();
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_STREQ(s.CStr(), "");
  EXPECT_TRUE(s.IsEmpty());
  s.Assign("z");
  EXPECT_EQ(s.Capacity(), 33);
  EXPECT_STREQ(s.CStr(), "z");
}

TEST(QStr, WideModePrintsPlaceholderUntilNarrowTextIsAssigned) {
  QStr s(32);
  s.Assign("abc");
  s.SetFlags(1);
  EXPECT_STREQ(s.CStr(), "<unicodestr-nyi>");
  s.Assign("de");
  EXPECT_EQ(s.Flags() & 1, 0);
  EXPECT_STREQ(s.CStr(), "de");
  EXPECT_EQ(s.Capacity(), 34);
}
