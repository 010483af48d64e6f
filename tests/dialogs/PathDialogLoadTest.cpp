// Loading (where the dialog opens, and its fallback), OK, Cancel and the title-bar close.
#include <gtest/gtest.h>

#include <QTest>

#include "DialogTestSupport.h"

namespace {

class PathDialogLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder.Path("program"));
    std::filesystem::create_directories(folder.Path("Pics/Trip"));
    program = Q(folder.Path("program"));
  }
  TempDir folder;
  ScriptedPrompts prompts;
  QString program;
};

}  // namespace

TEST_F(PathDialogLoad, BlankOrMissingFolderOpensTheProgramFolderSilently) {
  for (const QString& strPath : {QString(), QStringLiteral("   "), Q(folder.Path("20261208_101500")),
                                 QStringLiteral("no/such/relative/folder")}) {
    auto dialog = LoadedDialog(strPath, program);
    EXPECT_EQ(FolderText(*dialog), program) << strPath.toStdString();
    EXPECT_EQ(OpenFolder(*dialog), program) << strPath.toStdString();
    EXPECT_EQ(Drives(*dialog)->currentIndex(), VolumeIndexOf(Drives(*dialog)->Volumes(), program));
    EXPECT_EQ(dialog->blnCancel, "True");
    EXPECT_EQ(dialog->strPath, strPath);  // loading leaves the field alone
  }
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(PathDialogLoad, ExistingFolderOpensInTheListsForm) {
  auto dialog = LoadedDialog(Q(folder.Path("Pics")) + "/./Trip/", program);
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics/Trip")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics/Trip")));
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(PathDialogLoad, FolderAlreadyOpenKeepsTheTextAsPassed) {
  // The lists start on the current folder: naming it again changes neither, so the text box keeps
  // the text exactly as it was handed in, and OK returns it so.
  CurrentFolder current(Q(folder.Path("Pics")));
  const QString passed = Q(folder.Path("Pics")) + "/";
  auto dialog = LoadedDialog(passed, program);
  EXPECT_EQ(FolderText(*dialog), passed);
  dialog->OKButton_Click();
  EXPECT_EQ(dialog->strPath, passed);
  EXPECT_EQ(dialog->blnCancel, "False");
  EXPECT_FALSE(TruthValue(dialog->blnCancel));
}

TEST_F(PathDialogLoad, MissingProgramFolderFallsBackToTheCurrentFolder) {
  CurrentFolder current(Q(folder.Path("Pics")));
  auto dialog = LoadedDialog(Q(folder.Path("gone")), Q(folder.Path("program-gone")));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics")));
}

TEST_F(PathDialogLoad, OkReturnsTheTextBoxUncheckedAndUntrimmed) {
  auto dialog = LoadedDialog(Q(folder.Path("Pics")), program);
  dialog->OKButton_Click();
  EXPECT_EQ(dialog->strPath, Q(folder.Path("Pics")));
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog->isVisible());

  auto typed = LoadedDialog(Q(folder.Path("Pics")), program);
  const QString text = "  " + Q(folder.Path("nowhere/at all")) + "  ";
  QLineEdit* box = Child<QLineEdit>(*typed, "txtFolder");
  box->clear();
  QTest::keyClicks(box, text);
  Child<QPushButton>(*typed, "OKButton")->click();
  EXPECT_EQ(typed->strPath, text);
  EXPECT_EQ(typed->blnCancel, "False");
  EXPECT_FALSE(IsFolder(Q(folder.Path("nowhere"))));
}

TEST_F(PathDialogLoad, CancelAndTitleBarCloseChangeNothing) {
  const QString passed = Q(folder.Path("Pics"));
  auto cancelled = LoadedDialog(passed, program);
  Child<QLineEdit>(*cancelled, "txtFolder")->setText("typed");
  Child<QPushButton>(*cancelled, "CancelButton")->click();
  EXPECT_FALSE(cancelled->isVisible());
  EXPECT_EQ(cancelled->strPath, passed);
  EXPECT_TRUE(TruthValue(cancelled->blnCancel));

  auto closed = LoadedDialog(passed, program);
  Child<QLineEdit>(*closed, "txtFolder")->setText("typed");
  EXPECT_TRUE(closed->close());
  EXPECT_FALSE(closed->isVisible());
  EXPECT_EQ(closed->strPath, passed);
  EXPECT_TRUE(TruthValue(closed->blnCancel));
}

TEST(TruthText, OnlyAFalseTextReadsFalse) {
  EXPECT_TRUE(TruthValue(TruthText(true)));
  EXPECT_FALSE(TruthValue(TruthText(false)));
  EXPECT_FALSE(TruthValue("false"));
  EXPECT_FALSE(TruthValue("0"));
  // Anything garbled counts as cancelled, which changes nothing.
  EXPECT_TRUE(TruthValue(""));
  EXPECT_TRUE(TruthValue("Falsch"));
}
