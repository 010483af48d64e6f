// The whole-file text and the atomic replacement of the files that TextFile writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/NumberedError.h"
#include "support/TempDir.h"
#include "textfile/TextFile.h"

#ifndef _WIN32
#include "support/FileSizeLimit.h"
#endif

namespace {

std::string Text(const std::string& path) {
  TextFile file;
  file.Filename(path);
  return file.Text();
}

void SetText(const std::string& path, const std::string& text) {
  TextFile file;
  file.Filename(path);
  file.Text(text);
}

// Every name in the folder, so a test can see that no temporary file was left behind.
std::vector<std::string> Names(const TempDir& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Fs()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class VectorList : public ListControl {
 public:
  std::vector<std::string> items;
  void Clear() override { items.clear(); }
  void AddItem(const std::string& text) override { items.push_back(text); }
  int ListCount() const override { return static_cast<int>(items.size()); }
  std::string List(int index) const override {
    return index >= 0 && index < ListCount() ? items[static_cast<std::size_t>(index)] : std::string();
  }
};

}  // namespace

TEST(TextFileWhole, MissingFileReadsEmptyAndIsNotCreated) {
  TempDir folder;
  EXPECT_EQ(Text(folder.Path("none.txt")), "");
  EXPECT_FALSE(std::filesystem::exists(folder.Path("none.txt")));
  EXPECT_EQ(Text(""), "");
  EXPECT_EQ(Text("   "), "");
}

TEST(TextFileWhole, RoundTripKeepsEveryByteAndAddsNoLineEnd) {
  TempDir folder;
  const std::string path = folder.Path("Settings.txt");
  const std::string text = "fsizelimit=25\r\nfextlist=*.jpg;\xE5\x9C\x96\xE7\x89\x87\n\rlast";
  SetText(path, text);
  EXPECT_EQ(ReadFile(path), text);
  EXPECT_EQ(Text(path), text);

  SetText(path, "short");
  EXPECT_EQ(ReadFile(path), "short");

  SetText(path, "");
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(Text(path), "");
  EXPECT_EQ(Names(folder), std::vector<std::string>{"Settings.txt"});
}

TEST(TextFileWhole, WritingOverAFolderFailsSilentlyAndKeepsIt) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("taken/inner"));
  EXPECT_NO_THROW(SetText(folder.Path("taken"), "text"));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path("taken/inner")));
  EXPECT_EQ(Names(folder), std::vector<std::string>{"taken"});
  // Reading a folder is a failure passed to the caller.
  EXPECT_THROW(Text(folder.Path("taken")), NumberedError);
}

TEST(TextFileWhole, WritingIntoAMissingFolderFailsSilently) {
  TempDir folder;
  EXPECT_NO_THROW(SetText(folder.Path("missing/Settings.txt"), "text"));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("missing")));
}

#ifndef _WIN32
TEST(TextFileAtomic, FailedWriteReportsTheFullDiskAndKeepsTheOldFileWhole) {
  TempDir folder;
  const std::string settings = folder.Path("Settings.txt");
  const std::string folders = folder.Path("Folders.txt");
  WriteFile(settings, "fsizelimit=30\r\nfextlist=*.png");
  WriteFile(folders, "/pics/a\r\n/pics/b\r\n");

  const std::string big(64 * 1024, 'x');
  VectorList list;
  for (int i = 0; i < 2000; ++i) list.items.push_back("/pictures/folder number " + std::to_string(i));
  std::vector<std::string> collection = list.items;
  {
    FileSizeLimit limit(4096);
    SetText(settings, big);  // swallowed
    TextFile file;
    file.Filename(folders);
    try {
      file.SaveComboBox(list);
      FAIL() << "the save did not report its failure";
    } catch (const NumberedError& error) {
      EXPECT_EQ(error.Number(), NumberedError::kDiskFull);
    }
    EXPECT_THROW(file.SaveCollection(collection), NumberedError);
  }
  EXPECT_EQ(ReadFile(settings), "fsizelimit=30\r\nfextlist=*.png");
  EXPECT_EQ(ReadFile(folders), "/pics/a\r\n/pics/b\r\n");
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"Folders.txt", "Settings.txt"}));
}

#endif

TEST(TextFileAtomic, SaveOverAFolderRaisesAndLeavesNoTemporaryFile) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("Folders.txt/inner"));
  VectorList list;
  list.items = {"a", "b"};
  TextFile file;
  file.Filename(folder.Path("Folders.txt"));
  EXPECT_THROW(file.SaveComboBox(list), NumberedError);
  EXPECT_EQ(Names(folder), std::vector<std::string>{"Folders.txt"});
}
