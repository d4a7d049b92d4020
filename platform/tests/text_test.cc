#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace plat {
namespace {

TEST(FormatTextTest, TextOfAnyLengthComesOutWhole) {
  const std::string word(5000, 'x');
  const std::string text = FormatText("[%s] %d %.1f", word.c_str(), -7, 2.5);
  EXPECT_EQ(text, "[" + word + "] -7 2.5");
  EXPECT_EQ(FormatText("%s", ""), "");
  // The arguments are read once for the length and once for the text.
  EXPECT_EQ(FormatText("%s/%s/%u", "a", "bc", 42u), "a/bc/42");
}

TEST(TrimBlanksTest, OnlyBlanksAndTabsAtEitherEndGo) {
  EXPECT_EQ(TrimBlanks(" \t a b \t "), "a b");
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  // Line breaks are text to the profile and command-line grammars.
  EXPECT_EQ(TrimBlanks("\r\nx\n"), "\r\nx\n");
  EXPECT_FALSE(IsBlank('\n'));
  EXPECT_TRUE(IsBlank('\t'));
}

}  // namespace
}  // namespace plat
