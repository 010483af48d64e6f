// The extension list as typed, turned into the form the harvest matches: one rule for the window
// and the command line.
#include <gtest/gtest.h>

#include "harvest/ExtensionList.h"

TEST(ExtensionList, IsLowerCasedSpacelessWithDoubledDotsReducedAndEnclosed) {
  EXPECT_EQ(NormalizeExtensionList("*.jpg;*.jpeg;*.bmp;*.gif;*.flv"), ";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;");
  EXPECT_EQ(NormalizeExtensionList("*.JPG; *.Gif"), ";*.jpg;*.gif;");
  EXPECT_EQ(NormalizeExtensionList(" *.JPG ;*..png"), ";*.jpg;*.png;");
  EXPECT_EQ(NormalizeExtensionList("*...png"), ";*..png;");  // one pass: "..." becomes ".."
  EXPECT_EQ(NormalizeExtensionList("*....png"), ";*..png;");
  EXPECT_EQ(NormalizeExtensionList(""), ";;");
  EXPECT_EQ(NormalizeExtensionList("*.jpg;\t*.png"), ";*.jpg;\t*.png;");  // only spaces go
  EXPECT_EQ(NormalizeExtensionList("*.JPG;*.ÄBC"), ";*.jpg;*.äbc;");
}
