// The destination folder list: what AddFolder2List keeps, and how the window's box behaves.
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "WindowTestSupport.h"

namespace {

QStringList Entries(const QComboBox& box) {
  QStringList entries;
  for (int i = 0; i < box.count(); ++i) entries << box.itemText(i);
  return entries;
}

std::unique_ptr<QComboBox> EditableBox(const QStringList& entries, const QString& typed) {
  auto box = std::make_unique<QComboBox>();
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->addItems(entries);
  box->setEditText(typed);
  return box;
}

}  // namespace

TEST(FolderList, AnExactDuplicateChangesNothing) {
  auto box = EditableBox({"/a", "/b", "/c"}, "typed");
  frmMain::AddFolder2List(box.get(), "/c");
  EXPECT_EQ(Entries(*box), (QStringList{"/a", "/b", "/c"}));
  EXPECT_EQ(box->currentText(), "typed");
}

TEST(FolderList, CaseTrailingSeparatorAndSpacesMakeNewEntriesAtTheTop) {
  auto box = EditableBox({"/pics"}, "typed");
  frmMain::AddFolder2List(box.get(), "/Pics");
  frmMain::AddFolder2List(box.get(), "/pics/");
  frmMain::AddFolder2List(box.get(), " /pics");
  EXPECT_EQ(Entries(*box), (QStringList{" /pics", "/pics/", "/Pics", "/pics"}));
  EXPECT_EQ(box->currentText(), "typed");
}

TEST(FolderList, KeepsSixteenByDroppingTheBottom) {
  QStringList sixteen;
  for (int i = 0; i < 16; ++i) sixteen << QStringLiteral("/f%1").arg(i);
  auto box = EditableBox(sixteen, "typed");
  frmMain::AddFolder2List(box.get(), "/new");
  EXPECT_EQ(box->count(), 16);
  EXPECT_EQ(box->itemText(0), "/new");
  EXPECT_EQ(box->itemText(15), "/f14");

  QStringList twenty;
  for (int i = 0; i < 20; ++i) twenty << QStringLiteral("/g%1").arg(i);
  auto loaded = EditableBox(twenty, "typed");
  frmMain::AddFolder2List(loaded.get(), "/g19");  // present: nothing changes, not even the count
  EXPECT_EQ(loaded->count(), 20);
  frmMain::AddFolder2List(loaded.get(), "/new");
  EXPECT_EQ(loaded->count(), 16);
  EXPECT_EQ(loaded->itemText(0), "/new");
  EXPECT_EQ(loaded->itemText(15), "/g14");
}

TEST(FolderList, AddingToAnEmptyBoxKeepsTheTypedText) {
  auto box = EditableBox({}, "/being/typed");
  frmMain::AddFolder2List(box.get(), "/first");
  EXPECT_EQ(Entries(*box), QStringList{"/first"});
  EXPECT_EQ(box->currentText(), "/being/typed");
}

TEST(FolderList, TheWindowsBoxDoesNotListWhatIsTypedAndEntered) {
  TempDir folder;
  frmMain window(TestEnvironment(folder));
  auto* box = Control<QComboBox>(window, "cboFolder");
  const int before = box->count();
  box->setEditText("/typed/and/entered");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(box->lineEdit(), &enter);
  EXPECT_EQ(box->count(), before);
}

TEST(FolderList, SurvivesARestartWithEmptyEntriesAndNothingTypedOrChosen) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("program"));
  WriteFile(folder.Path("program/Folders.txt"), "/x\r\n\r\n/y\r\n");
  {
    frmMain window(TestEnvironment(folder));
    auto* box = Control<QComboBox>(window, "cboFolder");
    EXPECT_EQ(Entries(*box), (QStringList{"/x", "", "/y"}));
    box->setEditText("/only/typed");
    window.close();
  }
  EXPECT_EQ(ReadFile(folder.Path("program/Folders.txt")), "/x\r\n\r\n/y\r\n");
}
