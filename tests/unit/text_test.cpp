#include "text/text.hpp"

#include <gtest/gtest.h>

TEST(TextFind, MatchesNeverStartOnTheTrailByteOfADoubleByteCharacter) {
  // 0xB5 0x75 is one GBK character whose trail byte is 'u'.
  const std::string s = "\xB5update=1\r\nupdate=2";
  EXPECT_EQ(text::Find(s, "update="), 11);
  EXPECT_EQ(text::Find("\xB5update=", "update="), text::kNotFound);
  // Single-byte text is searched byte by byte, from the given start.
  EXPECT_EQ(text::Find("abcabc", "bc", 0), 1);
  EXPECT_EQ(text::Find("abcabc", "bc", 2), 4);
  EXPECT_EQ(text::Find("abc", "c", 3), text::kNotFound);
  EXPECT_EQ(text::Find("abc", "", 3), 3);
  EXPECT_EQ(text::Find("abc", "c", 4), text::kNotFound);
  EXPECT_EQ(text::Find("abc", "c", -1), text::kNotFound);
  // A lead byte at the very end is a character of its own.
  EXPECT_EQ(text::Find("a\x81", "\x81", 0), 1);
}

TEST(TextEdit, TrimReplaceAndRemove) {
  EXPECT_EQ(text::Trim("  a b  ", " "), "a b");
  EXPECT_EQ(text::Trim("\t a \t", " "), "\t a \t");
  EXPECT_EQ(text::Trim("    ", " "), "");
  EXPECT_EQ(text::ReplaceAll("a--b--", "--", "/"), "a/b/");
  EXPECT_EQ(text::RemoveAll("1, 0, 0, 3", ' '), "1,0,0,3");
  EXPECT_EQ(text::Mid("abcdef", 2, 10), "cdef");
  EXPECT_EQ(text::Format("%s\\%s=%d;%ld", "D", "N", -3, 7L), "D\\N=-3;7");
  EXPECT_EQ(text::UntilNul(std::string_view("ab\0cd", 5)), "ab");
}

TEST(TextAtoI32, FollowsAtoiAndWrapsBeyond32Bits) {
  EXPECT_EQ(text::AtoI32("3abc"), 3);
  EXPECT_EQ(text::AtoI32("abc"), 0);
  EXPECT_EQ(text::AtoI32(""), 0);
  EXPECT_EQ(text::AtoI32(" \t\n-2"), -2);
  EXPECT_EQ(text::AtoI32("+17 "), 17);
  EXPECT_EQ(text::AtoI32("- 5"), 0);
  EXPECT_EQ(text::AtoI32("2147483647"), 2147483647);
  EXPECT_EQ(text::AtoI32("-2147483648"), INT32_MIN);
  EXPECT_EQ(text::AtoI32("4294967297"), 1);
  EXPECT_EQ(text::AtoI32("2147483648"), INT32_MIN);
  EXPECT_EQ(text::AtoI32("99999999999999999999"), static_cast<std::int32_t>(1661992959u));
}
