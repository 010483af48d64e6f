// The folder list: what it lists, how a double click opens and a single click only highlights,
// and a folder that cannot be opened.
#include <gtest/gtest.h>

#include <QTest>

#include "DialogTestSupport.h"
#include "support/HiddenFile.h"

namespace {

class FolderList : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"Pics/beta", "Pics/Alpha", "Pics/gamma/deep", "Pics/.hidden"}) {
      std::filesystem::create_directories(folder.Path(name));
    }
    Hide(folder.Path("Pics/.hidden"));
    WriteFile(folder.Path("Pics/file.jpg"), "not a folder");
    dialog = LoadedDialog(Q(folder.Path("Pics")), Q(folder.Path()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    list = Child<FolderListBox>(*dialog, "Dir1");
  }
  // The entries from the top, each with its depth.
  QStringList Entries() {
    QStringList entries;
    for (QTreeWidgetItemIterator it(list); *it; ++it) {
      int depth = 0;
      for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent()) ++depth;
      entries << QString::number(depth) + ":" + (*it)->text(0);
    }
    return entries;
  }
  // As the user double-clicks: the first click presses the entry, the second opens it.
  void DoubleClick(QTreeWidgetItem* item) {
    const QPoint where = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, where);
  }
  QTreeWidgetItem* Entry(const QString& text) {
    const auto found = list->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
  }
  TempDir folder;
  ScriptedPrompts prompts;
  std::unique_ptr<dlgPath> dialog;
  FolderListBox* list = nullptr;
};

}  // namespace

TEST_F(FolderList, ListsAncestorsThenTheOpenFolderThenItsVisibleSubfolders) {
  // The root as the system writes it ("/", "C:\\"), then one entry per folder below it.
  const std::filesystem::path open(folder.Path("Pics"));
  QStringList expected{"0:" + Q(open.root_path().string())};
  int depth = 1;
  for (const auto& component : open.relative_path()) expected << QString::number(depth++) + ":" + Q(component.string());
  // Sorted without regard to case; no dot folder, no file.
  for (const char* name : {"Alpha", "beta", "gamma"}) expected << QString::number(depth) + ":" + name;
  EXPECT_EQ(Entries(), expected);
  EXPECT_EQ(list->currentItem()->text(0), "Pics");
  EXPECT_EQ(FolderListBox::FolderOf(Entry("gamma")), Q(folder.Path("Pics/gamma")));
}

TEST_F(FolderList, DoubleClickOpensAndSingleClickOnlyHighlights) {
  QTreeWidgetItem* gamma = Entry("gamma");
  ASSERT_NE(gamma, nullptr);
  DoubleClick(gamma);
  EXPECT_EQ(list->Path(), Q(folder.Path("Pics/gamma")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics/gamma")));
  ASSERT_NE(Entry("deep"), nullptr);

  // A click on another entry discards the typed text for the open folder, which stays open.
  Child<QLineEdit>(*dialog, "txtFolder")->setText("typed");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(Entry("deep")).center());
  EXPECT_EQ(list->currentItem()->text(0), "deep");
  EXPECT_EQ(list->Path(), Q(folder.Path("Pics/gamma")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics/gamma")));

  // Enter opens the highlighted entry; an ancestor opens the same way.
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(list->Path(), Q(folder.Path("Pics/gamma/deep")));
  list->setCurrentItem(Entry("Pics"));
  QTest::keyClick(list, Qt::Key_Enter);
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics")));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(FolderList, VanishedFolderStaysClosedWithAMessage) {
  QTreeWidgetItem* beta = Entry("beta");
  ASSERT_NE(beta, nullptr);
  std::filesystem::remove(folder.Path("Pics/beta"));
  DoubleClick(beta);
  EXPECT_EQ(list->Path(), Q(folder.Path("Pics")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics")));
  EXPECT_EQ(Entry("beta"), nullptr);  // listed afresh
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_TRUE(prompts.messages[0].text.contains(Q(folder.Path("Pics/beta"))));
}

TEST_F(FolderList, SettingAPathThatIsNoFolderRaisesAndKeepsTheList) {
  for (const QString& bad :
       {QString(), QStringLiteral("  "), Q(folder.Path("Pics/file.jpg")), Q(folder.Path("nope"))}) {
    EXPECT_THROW(list->SetPath(bad), std::exception) << bad.toStdString();
    EXPECT_EQ(list->Path(), Q(folder.Path("Pics")));
  }
}
