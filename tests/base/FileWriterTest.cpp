// The file writer's two ways of putting a file in place: replacing a target whole, keeping its
// permissions and its old contents on failure; and taking a name only while it is free. The same
// bodies run on Windows; what only one system has (permissions, flock, signals) is POSIX's alone,
// and tests/windows adds Windows's hidden temporaries.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "support/FileSizeLimit.h"
#endif

#include <filesystem>
#include <set>

#include "base/FileWriter.h"
#include "base/NumberedError.h"
#include "support/TempDir.h"

namespace {

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(dir.Path()))
    names.insert(item.path().filename().string());
  return names;
}

#ifndef _WIN32
unsigned Permissions(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

unsigned NewFilePermissions() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}
#endif

TEST(FileWriterReplacing, WritesBesideTheTargetAndKeepsItsPermissions) {
  TempDir dir;
  const std::string target = dir / "Settings.txt";
  WriteFile(target, "old");
#ifndef _WIN32
  ::chmod(target.c_str(), 0640);
#endif
  {
    FileWriter writer = FileWriter::Replacing(target);
    EXPECT_EQ(std::filesystem::path(writer.TemporaryPath()).filename().string().rfind(".Settings.txt.tmp-", 0), 0u);
    EXPECT_EQ(std::filesystem::path(writer.TemporaryPath()).parent_path(), std::filesystem::path(dir.Path()));
    writer.Write("new");
    EXPECT_EQ(ReadFile(target), "old");  // nothing shows before the replacement
    writer.ReplaceTarget();
  }
  EXPECT_EQ(ReadFile(target), "new");
#ifndef _WIN32
  EXPECT_EQ(Permissions(target), 0640u);
#endif
  EXPECT_EQ(Names(dir), std::set<std::string>{"Settings.txt"});

  // A first save gets the permissions of any new file.
  const std::string fresh = dir / "Folders.txt";
  FileWriter writer = FileWriter::Replacing(fresh);
  writer.ReplaceTarget();
  EXPECT_EQ(ReadFile(fresh), "");
#ifndef _WIN32
  EXPECT_EQ(Permissions(fresh), NewFilePermissions());
#endif
}

TEST(FileWriterNewFile, TakesANameOnlyWhileItIsFree) {
  TempDir dir;
  WriteFile(dir / "pic.jpg", "theirs");
  {
    FileWriter copy = FileWriter::NewFileIn(dir.Path(), FileWriter::Temporary::Named);
    EXPECT_EQ(std::filesystem::path(copy.TemporaryPath()).filename().string().rfind(".tavrin-copy-", 0), 0u);
    EXPECT_EQ(std::filesystem::path(copy.TemporaryPath()).filename().string().size(), 19u);
#ifndef _WIN32
    EXPECT_EQ(Permissions(copy.TemporaryPath()), NewFilePermissions());
#endif
    const std::string bytes = "ours";
    ASSERT_TRUE(copy.Sink()(bytes.data(), bytes.size()));
    EXPECT_EQ(copy.PlaceIfNameFree(dir / "pic.jpg"), FileWriter::Placement::NameTaken);
    EXPECT_EQ(ReadFile(dir / "pic.jpg"), "theirs");
    EXPECT_EQ(copy.PlaceIfNameFree(dir / "pic_1.jpg"), FileWriter::Placement::Placed);
  }
  EXPECT_EQ(ReadFile(dir / "pic_1.jpg"), "ours");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"pic.jpg", "pic_1.jpg"}));

  // Two writers at once get two temporary files; one never placed leaves nothing behind.
  {
    FileWriter a = FileWriter::NewFileIn(dir.Path(), FileWriter::Temporary::Named);
    FileWriter b = FileWriter::NewFileIn(dir.Path(), FileWriter::Temporary::Named);
    EXPECT_NE(a.TemporaryPath(), b.TemporaryPath());
    EXPECT_EQ(Names(dir).size(), 4u);
    // Another run's clean-up leaves the files that writers hold.
    EXPECT_EQ(RemoveLeftoverCopies(dir.Path()), 0);
    // Where the file system has unnamed files, a copy shows no name at all until it is placed.
    FileWriter unnamed = FileWriter::NewFileIn(dir.Path());
    EXPECT_EQ(Names(dir).size(), unnamed.TemporaryPath().empty() ? 4u : 5u);
  }
  EXPECT_EQ(Names(dir), (std::set<std::string>{"pic.jpg", "pic_1.jpg"}));
  EXPECT_THROW(FileWriter::NewFileIn(dir / "missing"), NumberedError);
}

#ifndef _WIN32
TEST(FileWriterNewFile, AFailedWriteIsRaisedAndNothingIsPlaced) {
  TempDir dir;
  for (auto temporary : {FileWriter::Temporary::Named, FileWriter::Temporary::UnnamedWherePossible}) {
    FileSizeLimit limit(1024);
    FileWriter copy = FileWriter::NewFileIn(dir.Path(), temporary);
    const std::string bytes(4096, 'p');
    EXPECT_FALSE(copy.Sink()(bytes.data(), bytes.size()));
    EXPECT_FALSE(copy.Sink()("more", 4));
    EXPECT_THROW(copy.PlaceIfNameFree(dir / "pic.jpg"), NumberedError);
  }
  EXPECT_TRUE(Names(dir).empty());
}

// A harvester killed in the middle of a large copy (a child process whose source stalls halfway):
// an unnamed file leaves nothing at all; a named one is removed by the next capture's clean-up.
TEST(FileWriterNewFile, AKilledCopyLeavesNothingAfterTheNextStart) {
  TempDir dir;
  for (auto temporary : {FileWriter::Temporary::UnnamedWherePossible, FileWriter::Temporary::Named}) {
    int halfway[2];
    ASSERT_EQ(::pipe(halfway), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      try {
        FileWriter copy = FileWriter::NewFileIn(dir.Path(), temporary);
        copy.Write(std::string(8 << 20, 'x'));
        (void)!::write(halfway[1], copy.TemporaryPath().empty() ? "u" : "n", 1);
        ::pause();
      } catch (...) {
      }
      (void)!::write(halfway[1], "e", 1);
      ::_exit(0);
    }
    char kind = 0;
    ASSERT_EQ(::read(halfway[0], &kind, 1), 1);
    EXPECT_NE(kind, 'e');
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(halfway[0]);
    ::close(halfway[1]);
    EXPECT_EQ(Names(dir).size(), kind == 'n' ? 1u : 0u);
    EXPECT_EQ(RemoveLeftoverCopies(dir.Path()), kind == 'n' ? 1 : 0);
    EXPECT_TRUE(Names(dir).empty());
  }
}

// Only this program's own temporaries that nobody writes go: the exact pattern, not the prefix.
TEST(FileWriterNewFile, CleanUpRemovesOnlyCrashedRunsTemporaries) {
  TempDir dir;
  for (const char* name : {".tavrin-copy-AbC123", ".tavrin-copy-zzzzzz", ".tavrin-copy-ABCDEF.jpg",
                           ".tavrin-copy-ABCDE", ".tavrin-copy-ABC-EF", "tavrin-copy-ABCDEF"}) {
    WriteFile(dir / name, "x");
  }
  std::filesystem::create_directory(dir / ".tavrin-copy-folder");
  std::filesystem::create_symlink(dir / "tavrin-copy-ABCDEF", dir / ".tavrin-copy-link00");
  EXPECT_EQ(RemoveLeftoverCopies(dir.Path()), 2);
  EXPECT_EQ(Names(dir), (std::set<std::string>{".tavrin-copy-ABCDEF.jpg", ".tavrin-copy-ABCDE", ".tavrin-copy-ABC-EF",
                                               "tavrin-copy-ABCDEF", ".tavrin-copy-folder", ".tavrin-copy-link00"}));
}
#endif

}  // namespace
