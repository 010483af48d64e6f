// The extension list as typed, turned into the form the harvest matches, and the typed inputs read
// as meant (bare extensions, "~/" folders): one rule for the window and the command line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "harvest/ExtensionList.h"
#include "harvest/TypedInput.h"

TEST(ExtensionList, IsLowerCasedSpacelessWithDoubledDotsReducedAndEnclosed) {
  EXPECT_EQ(NormalizeExtensionList("*.jpg;*.jpeg;*.bmp;*.gif;*.flv"), ";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;");
  EXPECT_EQ(NormalizeExtensionList("*.JPG; *.Gif"), ";*.jpg;*.gif;");
  EXPECT_EQ(NormalizeExtensionList(" *.JPG ;*..png"), ";*.jpg;*.png;");
  EXPECT_EQ(NormalizeExtensionList("*...png"), ";*..png;");  // one pass: "..." becomes ".."
  EXPECT_EQ(NormalizeExtensionList("*....png"), ";*..png;");
  EXPECT_EQ(NormalizeExtensionList(""), ";;");
  EXPECT_EQ(NormalizeExtensionList("*.jpg;\t*.png"), ";*.jpg;\t*.png;");  // only spaces go
  // Whole characters are lower-cased, letters beyond ASCII too, on Windows as elsewhere.
  EXPECT_EQ(NormalizeExtensionList("*.JPG;*.ÄBC"), ";*.jpg;*.äbc;");
  EXPECT_EQ(NormalizeExtensionList("*.乙JPG"), ";*.乙jpg;");
}

TEST(TypedInput, BareExtensionsBecomePatternsAndPatternsStayAsTyped) {
  EXPECT_EQ(ExpandExtensionItems("jpg;.PNG; gif ;*.bmp"), "*.jpg;*.PNG;*.gif;*.bmp");
  EXPECT_EQ(ExpandExtensionItems("*.;img?.*;;.;"), "*.;img?.*;;.;");
  EXPECT_EQ(ExpandExtensionItems(""), "");
  EXPECT_EQ(NormalizeExtensionList(ExpandExtensionItems("jpg; .Gif")), ";*.jpg;*.gif;");
}

TEST(TypedInput, ATildeFolderIsInTheHomeFolderOnPosixOnly) {
#ifdef _WIN32
  EXPECT_EQ(ExpandHomeFolder("~\\pictures"), "~\\pictures");
#else
  const char* saved = std::getenv("HOME");
  const std::string before = saved ? saved : "";
  setenv("HOME", "/home/someone/", 1);
  EXPECT_EQ(ExpandHomeFolder("~/pictures/trip"), "/home/someone/pictures/trip");
  EXPECT_EQ(ExpandHomeFolder("~"), "~");
  EXPECT_EQ(ExpandHomeFolder("~other/pictures"), "~other/pictures");
  EXPECT_EQ(ExpandHomeFolder("/data/~/x"), "/data/~/x");
  unsetenv("HOME");  // the account's home, from the password database
  EXPECT_EQ(ExpandHomeFolder("~/x").back(), 'x');
  EXPECT_NE(ExpandHomeFolder("~/x").front(), '~');
  if (saved) setenv("HOME", before.c_str(), 1);
#endif
}
