// Lines as TextFile reads and writes them, and the lists loaded and saved one line per entry.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/NumberedError.h"
#include "base/PendingEvents.h"
#include "support/TempDir.h"
#include "textfile/TextFile.h"

namespace {

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

std::vector<std::string> LoadLines(const std::string& bytes) {
  TempDir folder;
  WriteFile(folder.Path("f.txt"), bytes);
  TextFile file;
  file.Filename(folder.Path("f.txt"));
  VectorList list;
  list.items = {"stale"};
  file.LoadComboBox(list);
  return list.items;
}

using Lines = std::vector<std::string>;

// Counts the calls of the pending-events hook while it lives.
class HookCounter {
 public:
  explicit HookCounter(std::function<void()> also = {}) {
    SetPendingEventsHook([this, also] {
      ++calls;
      if (also) also();
    });
  }
  ~HookCounter() { SetPendingEventsHook({}); }
  int calls = 0;
};

}  // namespace

TEST(TextFileLines, LineEndsAreCarriageReturnsWithAnOptionalLineFeed) {
  EXPECT_EQ(LoadLines("C:\\a\r\n\r\nC:\\b\r\n"), (Lines{"C:\\a", "", "C:\\b"}));
  EXPECT_EQ(LoadLines(""), Lines{});
  EXPECT_EQ(LoadLines("last without end"), Lines{"last without end"});
  EXPECT_EQ(LoadLines("a\nb\nc\n"), Lines{"a\nb\nc\n"});
  EXPECT_EQ(LoadLines("a\rb\r\r\nc"), (Lines{"a", "b", "", "c"}));
  EXPECT_EQ(LoadLines("\r\n"), Lines{""});
  EXPECT_EQ(LoadLines("\n\r\n"), Lines{"\n"});
  EXPECT_EQ(LoadLines("x\r\n\n"), (Lines{"x", "\n"}));
}

TEST(TextFileLines, ComboBoxRoundTripKeepsOrderEmptyEntriesAndDuplicates) {
  TempDir folder;
  TextFile file;
  file.Filename(folder.Path("Folders.txt"));
  VectorList saved;
  saved.items = {"/home/u/\xE5\x9C\x96", "", "/tmp/a", "/tmp/a", " spaced "};
  file.SaveComboBox(saved);
  EXPECT_EQ(ReadFile(folder.Path("Folders.txt")), "/home/u/\xE5\x9C\x96\r\n\r\n/tmp/a\r\n/tmp/a\r\n spaced \r\n");
  VectorList loaded;
  file.LoadComboBox(loaded);
  EXPECT_EQ(loaded.items, saved.items);

  VectorList empty;
  file.SaveComboBox(empty);
  EXPECT_EQ(ReadFile(folder.Path("Folders.txt")), "");
  file.LoadComboBox(loaded);
  EXPECT_TRUE(loaded.items.empty());
}

TEST(TextFileLines, LoadComboBoxOfAMissingFileClearsAndRaisesFileNotFound) {
  TempDir folder;
  TextFile file;
  file.Filename(folder.Path("Folders.txt"));
  VectorList list;
  list.items = {"old"};
  try {
    file.LoadComboBox(list);
    FAIL() << "no error for a missing file";
  } catch (const NumberedError& error) {
    EXPECT_EQ(error.Number(), NumberedError::kFileNotFound);
  }
  EXPECT_TRUE(list.items.empty());
}

TEST(TextFileLines, CollectionsAppendAndAMissingFileAddsNothing) {
  TempDir folder;
  TextFile file;
  file.Filename(folder.Path("list.txt"));
  std::vector<std::string> items = {"kept"};
  EXPECT_NO_THROW(file.LoadCollection(items));
  EXPECT_EQ(items, Lines{"kept"});

  file.SaveCollection({"one", "", "three"});
  EXPECT_EQ(ReadFile(folder.Path("list.txt")), "one\r\n\r\nthree\r\n");
  file.LoadCollection(items);
  EXPECT_EQ(items, (Lines{"kept", "one", "", "three"}));
}

TEST(TextFileLines, PendingEventsRunAfterEveryLineLoadedOrSaved) {
  TempDir folder;
  TextFile file;
  file.Filename(folder.Path("Folders.txt"));
  VectorList list;
  list.items = {"a", "b", "c"};
  {
    HookCounter hook;
    file.SaveComboBox(list);
    EXPECT_EQ(hook.calls, 3);
    file.LoadComboBox(list);
    EXPECT_EQ(hook.calls, 6);
    std::vector<std::string> items;
    file.LoadCollection(items);
    file.SaveCollection(items);
    EXPECT_EQ(hook.calls, 12);
  }
}

TEST(TextFileLines, AListThatShrinksWhileSavingIsStillSavedSafely) {
  TempDir folder;
  TextFile file;
  file.Filename(folder.Path("Folders.txt"));
  VectorList list;
  list.items = {"a", "b", "c"};
  HookCounter hook([&] { list.items.clear(); });
  file.SaveComboBox(list);
  // The count is taken once; entries gone meanwhile are written as empty lines.
  EXPECT_EQ(ReadFile(folder.Path("Folders.txt")), "a\r\n\r\n\r\n");
}

TEST(TextFileLines, IterationReadsLineByLineAndTellsTheEnd) {
  TempDir folder;
  WriteFile(folder.Path("f.txt"), "first\r\nsecond");
  TextFile file;
  file.Filename(folder.Path("f.txt"));
  file.GetNextLine_Start();
  EXPECT_FALSE(file.GetNextLine_AtEnd());
  EXPECT_EQ(file.GetNextLine(), "");
  EXPECT_EQ(file.Line(), "first");
  file.GetNextLine();
  EXPECT_EQ(file.Line(), "second");
  EXPECT_TRUE(file.GetNextLine_AtEnd());
  file.GetNextLine();
  EXPECT_EQ(file.Line(), "second");  // nothing read at the end
  file.GetNextLine_End();

  TextFile missing;
  missing.Filename(folder.Path("none.txt"));
  missing.GetNextLine_Start();
  EXPECT_TRUE(missing.GetNextLine_AtEnd());
  EXPECT_EQ(missing.GetNextLine(), "");
  EXPECT_EQ(missing.Line(), "");
  missing.GetNextLine_End();
}

TEST(TextFileLines, LoadingAFolderRaisesInsteadOfLoadingNothing) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("Folders.txt"));
  TextFile file;
  file.Filename(folder.Path("Folders.txt"));
  VectorList list;
  EXPECT_THROW(file.LoadComboBox(list), NumberedError);
  std::vector<std::string> items;
  EXPECT_THROW(file.LoadCollection(items), NumberedError);
}
