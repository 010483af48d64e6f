#include "base/FolderPath.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "base/PathText.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A relative path written with "/", in this platform's separators.
std::string Native(std::string relative) {
  std::replace(relative.begin(), relative.end(), '/', kPathSeparator);
  return relative;
}

TEST(PathExists, FindsFilesAndFoldersByName) {
  TempDir dir;
  fs::create_directories(dir / "Pics");
  WriteFile(dir / "photo[1].jpg", "x");
  EXPECT_TRUE(PathExists(dir / "photo[1].jpg"));  // brackets are no pattern
  EXPECT_FALSE(PathExists(dir / "photo1.jpg"));
  EXPECT_TRUE(PathExists(dir / "Pics"));
  EXPECT_TRUE(PathExists(dir / Native("Pics/")));
  EXPECT_FALSE(PathExists(dir / Native("photo[1].jpg/")));  // a file is no folder
  EXPECT_FALSE(PathExists(dir / "missing"));
  EXPECT_FALSE(PathExists(""));
  EXPECT_FALSE(PathExists("   "));
}

TEST(PathExists, MatchesWildcardsInTheLastComponent) {
  TempDir dir;
  WriteFile(dir / "a.jpg", "x");
  EXPECT_TRUE(PathExists(dir / "*.jpg"));
  EXPECT_TRUE(PathExists(dir / "?.jpg"));
  EXPECT_FALSE(PathExists(dir / "??.jpg"));
  EXPECT_FALSE(PathExists(dir / "*.gif"));
}

TEST(PathExists, DoesNotLeaveDotFoldersOut) {
  TempDir dir;
  fs::create_directories(dir / Native(".local/share"));
  EXPECT_TRUE(PathExists(dir / ".local"));
  EXPECT_TRUE(PathExists(dir / Native(".local/")));
}

TEST(CreateFolderPath, CreatesEveryMissingFolderOutermostFirst) {
  TempDir dir;
  EXPECT_TRUE(CreateFolderPath(dir / Native("A/B/C")));
  EXPECT_TRUE(fs::is_directory(dir / Native("A/B/C")));
  EXPECT_TRUE(CreateFolderPath(dir / Native("X/Y/")));  // with a trailing separator: the same folders
  EXPECT_TRUE(fs::is_directory(dir / Native("X/Y")));
  EXPECT_TRUE(CreateFolderPath(dir / Native("A/B/C")));  // all present: nothing to do
  EXPECT_TRUE(CreateFolderPath(""));                     // the root only
}

TEST(CreateFolderPath, CreatesBelowEmptyAndDotFolders) {
  TempDir dir;
  fs::create_directories(dir / "empty");
  fs::create_directories(dir / ".local");
  EXPECT_TRUE(CreateFolderPath(dir / Native("empty/new")));
  EXPECT_TRUE(CreateFolderPath(dir / Native(".local/share/Tavrin/2026")));
  EXPECT_TRUE(fs::is_directory(dir / Native(".local/share/Tavrin/2026")));
}

TEST(CreateFolderPath, StopsAtTheFirstFailureKeepingWhatItMade) {
  TempDir dir;
  fs::create_directories(dir / "A");
  WriteFile(dir / Native("A/B"), "a file where a folder should go");
  EXPECT_FALSE(CreateFolderPath(dir / Native("A/B/C")));
  EXPECT_FALSE(fs::exists(dir / Native("A/B/C")));

#ifndef _WIN32  // Windows keeps no write permission bits on folders
  fs::create_directories(dir / "locked");
  chmod((dir / "locked").c_str(), 0500);
  if (geteuid() != 0) {  // root may write anywhere
    EXPECT_FALSE(CreateFolderPath(dir / Native("locked/x/y")));
  }
  chmod((dir / "locked").c_str(), 0700);
#endif
}

TEST(CreateFolderPath, IgnoresTheDoubledLastSeparator) {
  TempDir dir;
  EXPECT_TRUE(CreateFolderPath(dir / Native("P//")));
  EXPECT_TRUE(fs::is_directory(dir / "P"));
}

}  // namespace
