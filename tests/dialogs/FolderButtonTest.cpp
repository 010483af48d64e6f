// The main window's "..." button: the dialog opens on the folder box's text, and only OK changes
// that text.
#include <gtest/gtest.h>

#include "DialogTestSupport.h"
#include "WindowTestSupport.h"

namespace {

class FolderButton : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<frmMain>(TestEnvironment(folder));
    std::filesystem::create_directories(folder.Path("Pics"));
    box = Control<QComboBox>(*window, "cboFolder");
  }
  // Clicks "..." with the box holding text, lets action run in the dialog, and reports whether
  // the dialog showed.
  bool ClickWith(const QString& text, std::function<void(dlgPath&)> action) {
    box->setEditText(text);
    bool shown = false;
    WhenDialogShows(std::move(action), &shown);
    window->cmdSelFolder_Click();
    return shown;
  }
  TempDir folder;
  ScriptedPrompts prompts;
  std::unique_ptr<frmMain> window;
  QComboBox* box = nullptr;
};

}  // namespace

TEST_F(FolderButton, OpensOnTheBoxFolderOwnedByTheWindow) {
  const QString pics = Q(folder.Path("Pics"));
  ASSERT_TRUE(ClickWith(pics + "/", [&](dlgPath& dialog) {
    EXPECT_EQ(dialog.strPath, pics + "/");
    EXPECT_EQ(OpenFolder(dialog), pics);
    EXPECT_EQ(dialog.parentWidget(), window.get());
    EXPECT_EQ(dialog.ProgramFolder(), window->ProgramFolderPath());
    dialog.OKButton_Click();
  }));
  EXPECT_EQ(box->currentText(), pics);  // the list's form, as loading left it

  ASSERT_TRUE(ClickWith("", [&](dlgPath& dialog) {
    EXPECT_EQ(OpenFolder(dialog), window->ProgramFolderPath());
    dialog.CancelButton_Click();
  }));
  EXPECT_EQ(box->currentText(), "");
}

TEST_F(FolderButton, OkPutsTheTypedTextIntoTheBoxExactly) {
  const QString typed = "  " + Q(folder.Path("not/there")) + " ";
  ASSERT_TRUE(ClickWith(Q(folder.Path("Pics")), [&](dlgPath& dialog) {
    Child<QLineEdit>(dialog, "txtFolder")->setText(typed);
    Child<QPushButton>(dialog, "OKButton")->click();
  }));
  EXPECT_EQ(box->currentText(), typed);
  EXPECT_EQ(box->count(), 0);  // the chosen folder does not enter the history

  // An emptied text box is a choice too.
  ASSERT_TRUE(ClickWith(Q(folder.Path("Pics")), [&](dlgPath& dialog) {
    Child<QLineEdit>(dialog, "txtFolder")->clear();
    dialog.OKButton_Click();
  }));
  EXPECT_EQ(box->currentText(), "");
}

TEST_F(FolderButton, CancelAndTitleBarCloseLeaveTheBoxAlone) {
  const QString before = "  " + Q(folder.Path("Pics")) + " ";
  ASSERT_TRUE(ClickWith(before, [&](dlgPath& dialog) {
    Child<QLineEdit>(dialog, "txtFolder")->setText("elsewhere");
    Child<QPushButton>(dialog, "CancelButton")->click();
  }));
  EXPECT_EQ(box->currentText(), before);

  ASSERT_TRUE(ClickWith(before, [&](dlgPath& dialog) {
    Child<QLineEdit>(dialog, "txtFolder")->setText("elsewhere");
    dialog.close();
  }));
  EXPECT_EQ(box->currentText(), before);
}

TEST_F(FolderButton, CancelAfterCreatingAFolderKeepsTheFolderButNotTheChoice) {
  prompts.names = {"Trip"};
  const QString before = Q(folder.Path("Pics"));
  ASSERT_TRUE(ClickWith(before, [&](dlgPath& dialog) {
    dialog.cmdCreateFolder_Click();
    EXPECT_EQ(FolderText(dialog), Q(folder.Path("Pics/Trip")));
    dialog.CancelButton_Click();
  }));
  EXPECT_TRUE(IsFolder(Q(folder.Path("Pics/Trip"))));
  EXPECT_EQ(box->currentText(), before);
}
