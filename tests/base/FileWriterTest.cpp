// The file writer's two ways of putting a file in place: replacing a target whole, keeping its
// permissions and its old contents on failure; taking a name only while it is free; and copies of
// ranges of other files. The same bodies run on Windows; what only one system has (permissions,
// flock, signals, copy_file_range) is POSIX's alone, and tests/windows adds Windows's hidden
// temporaries.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "support/FileSizeLimit.h"
#endif

#include <filesystem>
#include <set>
#include <vector>

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

#ifndef _WIN32
// A range of another open file is appended whole, by the system or, where it refuses (another file
// system: /dev/shm against the test folder, when they differ), read and written; read back for a
// check, the bytes come as the file holds them, a range that fits one part in one part. A source
// that ends early and a refused read-back are told apart from a failed write.
TEST(FileWriterNewFile, AppendsRangesOfOpenFilesAndReadsThemBack) {
  TempDir dir, shm;
  std::string contents(700 * 1024, '\0');
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 131 + i / 977);
  std::vector<std::string> sources = {dir / "source"};
  if (std::filesystem::is_directory("/dev/shm")) sources.push_back("/dev/shm/" + shm.Fs().filename().string());
  for (const std::string& source : sources) {
    WriteFile(source, contents);
    const int fd = ::open(source.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0) << source;
    FileWriter copy = FileWriter::NewFileIn(dir.Path());
    ASSERT_TRUE(copy.Sink()("head", 4));
    std::string readBack;
    std::size_t parts = 0;
    const ByteSink::ReadBack collect = [&](const std::uint8_t* data, std::size_t length) {
      readBack.append(reinterpret_cast<const char*>(data), length);
      ++parts;
      return true;
    };
    using Outcome = ByteSink::RangeOutcome;
    EXPECT_EQ(copy.Sink().Ranges()(fd, 1000, ByteSink::kReadBackPart, &collect), Outcome::Copied) << source;
    EXPECT_EQ(parts, 1u);
    EXPECT_EQ(copy.CopyRange(fd, 5, contents.size() - 5), Outcome::Copied);
    EXPECT_EQ(copy.CopyRange(fd, contents.size() - 10, 11), Outcome::SourceShort);
    const ByteSink::ReadBack refuse = [](const std::uint8_t*, std::size_t) { return false; };
    EXPECT_EQ(copy.CopyRange(fd, 0, 3, &refuse), Outcome::Refused);
    ::close(fd);
    EXPECT_EQ(readBack, contents.substr(1000, ByteSink::kReadBackPart));
    EXPECT_FALSE(copy.Failure());
    ASSERT_EQ(copy.PlaceIfNameFree(dir / "copy.jpg"), FileWriter::Placement::Placed);
    const std::string copied = ReadFile(dir / "copy.jpg");
    EXPECT_TRUE(copied.substr(0, 4 + ByteSink::kReadBackPart + contents.size() - 5) ==
                "head" + contents.substr(1000, ByteSink::kReadBackPart) + contents.substr(5))
        << source;
    std::filesystem::remove(dir / "copy.jpg");
    std::filesystem::remove(source);
  }
}
#endif
