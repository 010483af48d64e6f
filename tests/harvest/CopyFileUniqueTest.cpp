// Copies never replace a file, never leave a partial one, and never lose a different picture.
#include <filesystem>

#include "HarvestFixture.h"
#include "base/ChangeWatch.h"
#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "support/FileSizeLimit.h"
#endif

namespace fs = std::filesystem;

namespace {

using ::testing::ElementsAre;

class CopyUnique : public ::testing::Test {
 protected:
  std::string Source(const std::string& contents) {
    const std::string path = src / ("s" + std::to_string(++counter_));
    WriteFile(path, contents);
    return path;
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(dst.Path())) names.insert(item.path().filename().string());
    return names;
  }
  TempDir src, dst;

 private:
  int counter_ = 0;
};

// The same with the destination's names known from change notifications, and without them.
class CopyUniqueNotified : public CopyUnique, public ::testing::WithParamInterface<bool> {
 protected:
  CopyUniqueNotified() { SetFolderWatchesEnabled(GetParam()); }
  ~CopyUniqueNotified() override { SetFolderWatchesEnabled(true); }
};

INSTANTIATE_TEST_SUITE_P(Watched, CopyUniqueNotified, ::testing::Bool());

TEST_P(CopyUniqueNotified, NumbersClashesAndSkipsTheSameFile) {
  // The outcome says which of the three it was, and where the picture is now.
  const auto copy = [&](const std::string& contents) {
    return CopyWithoutReplacing(Source(contents), dst / "pic.jpg", true);
  };
  using Kind = CopyOutcome::Kind;
  EXPECT_EQ(copy("abc").kind, Kind::Copied);
  const CopyOutcome again = copy("abc");  // same contents: already present
  EXPECT_EQ(again.kind, Kind::AlreadyPresent);
  EXPECT_EQ(again.target, dst / "pic.jpg");
  const CopyOutcome numbered = copy("abcd");
  EXPECT_EQ(numbered.kind, Kind::CopiedUnderNumber);
  EXPECT_EQ(numbered.target, dst / "pic_1.jpg");
  EXPECT_FALSE(numbered.failure);
  CopyFileUnique(Source("abcde"), dst / "pic.jpg", true);
  EXPECT_THAT(Names(), ElementsAre("pic.jpg", "pic_1.jpg", "pic_2.jpg"));
  EXPECT_EQ(copy("abcde").target, dst / "pic_2.jpg");
  EXPECT_EQ(ReadFile(dst / "pic.jpg"), "abc");
  EXPECT_EQ(ReadFile(dst / "pic_2.jpg"), "abcde");
  // A numbered copy of the same contents is already present too, however often the clash recurs.
  for (int rerun = 0; rerun < 3; ++rerun) {
    CopyFileUnique(Source("abcde"), dst / "pic.jpg", true);
    CopyFileUnique(Source("abcd"), dst / "pic.jpg", true);
  }
  EXPECT_THAT(Names(), ElementsAre("pic.jpg", "pic_1.jpg", "pic_2.jpg"));
  // Copies deleted by the user leave gaps; a picture kept under a later number is not stored again
  // in a gap, while the deleted ones come back.
  fs::remove(dst / "pic.jpg");
  fs::remove(dst / "pic_1.jpg");
  CopyFileUnique(Source("abcde"), dst / "pic.jpg", true);
  EXPECT_THAT(Names(), ElementsAre("pic_2.jpg"));
  CopyFileUnique(Source("abcd"), dst / "pic.jpg", true);
  CopyFileUnique(Source("abcde"), dst / "pic.jpg", true);
  EXPECT_THAT(Names(), ElementsAre("pic.jpg", "pic_2.jpg"));
  EXPECT_EQ(ReadFile(dst / "pic.jpg"), "abcd");

  // Numbered copies that another program put there between two copies, under names never seen
  // before (one made from a name that ends in a number itself), are found too; so are those in a
  // folder removed and made again.
  WriteFile(dst / "other_3.jpg", "xyz");
  WriteFile(dst / "shot_2_1.jpg", "uvw");
  WriteFile(dst / "x_10", "rst");
  CopyFileUnique(Source("xyz"), dst / "other.jpg", true);
  CopyFileUnique(Source("uvw"), dst / "shot_2.jpg", true);
  CopyFileUnique(Source("rst"), dst / "x", true);
  EXPECT_THAT(Names(), ElementsAre("other_3.jpg", "pic.jpg", "pic_2.jpg", "shot_2_1.jpg", "x_10"));
  fs::remove_all(dst.Path());
  fs::create_directory(dst.Path());
  WriteFile(dst / "other_5.jpg", "xyz");
  CopyFileUnique(Source("xyz"), dst / "other.jpg", true);
  EXPECT_THAT(Names(), ElementsAre("other_5.jpg"));
}

TEST_F(CopyUnique, ADifferentPictureOfTheSameSizeIsKept) {
  CopyFileUnique(Source("AAAA"), dst / "pic.jpg", true);
  CopyFileUnique(Source("BBBB"), dst / "pic.jpg", true);
  EXPECT_THAT(Names(), ElementsAre("pic.jpg", "pic_1.jpg"));
  EXPECT_EQ(ReadFile(dst / "pic.jpg"), "AAAA");
  EXPECT_EQ(ReadFile(dst / "pic_1.jpg"), "BBBB");
}

TEST_F(CopyUnique, NamesWithoutExtensionGetANumberToo) {
  CopyFileUnique(Source("1"), dst / "clip", true);
  CopyFileUnique(Source("22"), dst / "clip", true);
  EXPECT_THAT(Names(), ElementsAre("clip", "clip_1"));
}

// A source whose copy makes the target name appear while it is being read, as another program
// saving a file of that name at the same moment would.
class RacingProvider : public VirtualFileProvider {
 public:
  std::string raceTarget;
  std::optional<std::uint64_t> SizeOf(const std::string&) override { return 3; }
  bool CopyTo(const std::string&, const ByteSink& sink) override {
    WriteFile(raceTarget, "theirs");
    return sink("new", 3);
  }
};

TEST_F(CopyUnique, NeverOverwritesAFileThatAppearsDuringTheCopy) {
  auto provider = std::make_shared<RacingProvider>();
  provider->raceTarget = dst / "pic.jpg";
  auto registration = virtual_files::Register(src.Path(), provider);
  CopyFileUnique(src / "entry_0/pic.jpg", dst / "pic.jpg", true);
  EXPECT_EQ(ReadFile(dst / "pic.jpg"), "theirs");
  EXPECT_EQ(ReadFile(dst / "pic_1.jpg"), "new");
  EXPECT_THAT(Names(), ElementsAre("pic.jpg", "pic_1.jpg"));
}

class FailingProvider : public VirtualFileProvider {
 public:
  std::optional<std::uint64_t> SizeOf(const std::string&) override { return 10; }
  bool CopyTo(const std::string&, const ByteSink& sink) override {
    sink("half", 4);
    return false;  // the entry turned out incomplete halfway
  }
};

// The system's words for a missing file and a missing folder.
#ifdef _WIN32
const std::string kNoSuchFile = SystemErrorText(ERROR_FILE_NOT_FOUND),
                  kNoSuchFolder = SystemErrorText(ERROR_PATH_NOT_FOUND);
#else
const std::string kNoSuchFile = "No such file or directory", kNoSuchFolder = kNoSuchFile;
#endif

TEST_F(CopyUnique, AFailedReadLeavesNothingBehind) {
  auto registration = virtual_files::Register(src.Path(), std::make_shared<FailingProvider>());
  EXPECT_THROW(CopyFileUnique(src / "entry_0/pic.jpg", dst / "pic.jpg", true), NumberedError);
  EXPECT_THROW(CopyFileUnique(src / "vanished.jpg", dst / "pic.jpg", true), NumberedError);
  try {
    CopyFileUnique(dst / "vanished.jpg", dst / "pic.jpg", true);
    ADD_FAILURE();
  } catch (const CopyFailure& failure) {
    EXPECT_EQ(failure.Kind(), PassErrorKind::SourceUnreadable);
    EXPECT_EQ(failure.Line(), "cannot read " + dst / "vanished.jpg" + ": " + kNoSuchFile);
  }
  EXPECT_TRUE(Names().empty());
}

// Each failure of the destination says what, where and the system's reason.
TEST_F(CopyUnique, DestinationFailuresSayWhatWhereAndWhy) {
  const auto failure = [&](const std::string& target, const std::string& source = {}) {
    const CopyOutcome outcome = CopyWithoutReplacing(source.empty() ? Source("x") : source, target, true);
    EXPECT_EQ(outcome.kind, CopyOutcome::Kind::Failed) << target;
    EXPECT_TRUE(outcome.target.empty());
    return outcome.failure.value_or(CopyFailure(NumberedError(0, ""), PassErrorKind::None, "", ""));
  };
  const CopyFailure missing = failure(dst / "gone/pic.jpg");
  EXPECT_EQ(missing.Kind(), PassErrorKind::FolderMissing);
  EXPECT_EQ(missing.Line(), "cannot create a file in " + dst / "gone" + ": " + kNoSuchFolder);
#ifndef _WIN32
  if (::geteuid() != 0) {  // root writes anywhere
    fs::create_directory(dst / "locked");
    fs::permissions(dst / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(failure(dst / "locked/pic.jpg").Kind(), PassErrorKind::PermissionDenied);
  }
  const std::string big = Source("larger than the limit");
  FileSizeLimit limit(2);
  const CopyFailure full = failure(dst / "pic.jpg", big);
  EXPECT_EQ(full.Kind(), PassErrorKind::DiskFull);
  EXPECT_EQ(full.Line(), "cannot write into " + dst.Path() + ": File too large");
  // CopyFileUnique raises the same failure.
  EXPECT_THROW(CopyFileUnique(big, dst / "pic.jpg", true), CopyFailure);
#endif
}

}  // namespace
