#include "harvest/FolderPath.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

TEST(PathExists, FindsFilesAndFoldersByName) {
  TempDir dir;
  fs::create_directories(dir / "Pics");
  WriteFile(dir / "photo[1].jpg", "x");
  EXPECT_TRUE(PathExists(dir / "photo[1].jpg"));  // brackets are no pattern
  EXPECT_FALSE(PathExists(dir / "photo1.jpg"));
  EXPECT_TRUE(PathExists(dir / "Pics"));
  EXPECT_TRUE(PathExists(dir / "Pics/"));
  EXPECT_FALSE(PathExists(dir / "photo[1].jpg/"));  // a file is no folder
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
  fs::create_directories(dir / ".local/share");
  EXPECT_TRUE(PathExists(dir / ".local"));
  EXPECT_TRUE(PathExists(dir / ".local/"));
}

TEST(CreateFolderPath, CreatesEveryMissingFolderOutermostFirst) {
  TempDir dir;
  EXPECT_TRUE(CreateFolderPath(dir / "A/B/C"));
  EXPECT_TRUE(fs::is_directory(dir / "A/B/C"));
  EXPECT_TRUE(CreateFolderPath(dir / "X/Y/"));  // with a trailing separator: the same folders
  EXPECT_TRUE(fs::is_directory(dir / "X/Y"));
  EXPECT_TRUE(CreateFolderPath(dir / "A/B/C"));  // all present: nothing to do
  EXPECT_TRUE(CreateFolderPath(""));             // the root only
}

TEST(CreateFolderPath, CreatesBelowEmptyAndDotFolders) {
  TempDir dir;
  fs::create_directories(dir / "empty");
  fs::create_directories(dir / ".local");
  EXPECT_TRUE(CreateFolderPath(dir / "empty/new"));
  EXPECT_TRUE(CreateFolderPath(dir / ".local/share/Tavrin/2026"));
  EXPECT_TRUE(fs::is_directory(dir / ".local/share/Tavrin/2026"));
}

TEST(CreateFolderPath, StopsAtTheFirstFailureKeepingWhatItMade) {
  TempDir dir;
  fs::create_directories(dir / "A");
  WriteFile(dir / "A/B", "a file where a folder should go");
  EXPECT_FALSE(CreateFolderPath(dir / "A/B/C"));
  EXPECT_FALSE(fs::exists(dir / "A/B/C"));

  fs::create_directories(dir / "locked");
  chmod((dir / "locked").c_str(), 0500);
  if (geteuid() != 0) {  // root may write anywhere
    EXPECT_FALSE(CreateFolderPath(dir / "locked/x/y"));
  }
  chmod((dir / "locked").c_str(), 0700);
}

TEST(CreateFolderPath, IgnoresTheDoubledLastSeparator) {
  TempDir dir;
  EXPECT_TRUE(CreateFolderPath(dir / "P//"));
  EXPECT_TRUE(fs::is_directory(dir / "P"));
}

}  // namespace
