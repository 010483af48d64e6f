// The new-folder command: the path check, the name, creation and opening, and the error report
// with Abort, Retry and Ignore when a folder cannot be made.
#include <gtest/gtest.h>

#include <cerrno>

#include "DialogTestSupport.h"
#include "dialogs/FolderCreationError.h"

namespace {

class NewFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder.Path("Pics/Old"));
    WriteFile(folder.Path("blocker"), "a file where a folder should go");
    dialog = LoadedDialog(Q(folder.Path("Pics")), Q(folder.Path()));
  }
  void Type(const QString& text) { Child<QLineEdit>(*dialog, "txtFolder")->setText(text); }
  std::size_t EntriesIn(const std::string& path) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path), {}));
  }
  TempDir folder;
  ScriptedPrompts prompts;
  std::unique_ptr<dlgPath> dialog;
};

const QString kLocation = QStringLiteral("發生位置 : dlgPath.cmdCreateFolder_Click ( Sub ) \r\n");

}  // namespace

TEST_F(NewFolder, TextWithoutASeparatorAsksToCheckThePath) {
  Type("  Pictures  ");
  dialog->cmdCreateFolder_Click();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, QStringLiteral("請確認目錄路徑是否正確.\r\nPictures"));
  EXPECT_EQ(prompts.messages[0].buttons, MessageButtons::Ok);
  EXPECT_TRUE(prompts.inputs.empty());
}

TEST_F(NewFolder, EmptyOrCancelledNameChangesNothing) {
  prompts.names = {QString(), QString()};  // nothing typed; the box cancelled reads the same
  dialog->cmdCreateFolder_Click();
  dialog->cmdCreateFolder_Click();
  ASSERT_EQ(prompts.inputs.size(), 2u);
  EXPECT_EQ(prompts.inputs[0].prompt, QStringLiteral("新增資料夾名稱"));
  EXPECT_EQ(prompts.inputs[0].title, QStringLiteral("新增資料夾"));
  EXPECT_EQ(prompts.inputs[0].defaultText, QString());
  EXPECT_EQ(EntriesIn(folder.Path("Pics")), 1u);
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics")));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics")));
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(NewFolder, CreatesTheFolderAndOpensIt) {
  prompts.names = {"Trip"};
  Type("  " + Q(folder.Path("Pics")) + " ");
  dialog->cmdCreateFolder_Click();
  EXPECT_TRUE(IsFolder(Q(folder.Path("Pics/Trip"))));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics/Trip")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics/Trip")));
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(NewFolder, CreatesMissingParentsOfATypedPathAndKeepsNamesAsTyped) {
  prompts.names = {"Trip", "  "};
  Type(Q(folder.Path("New/Deeper")));
  dialog->cmdCreateFolder_Click();
  EXPECT_TRUE(IsFolder(Q(folder.Path("New/Deeper/Trip"))));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("New/Deeper/Trip")));
  dialog->cmdCreateFolder_Click();
#ifdef _WIN32
  // Windows drops the spaces that end a name: a name of spaces makes no folder, and the list stays
  // on the folder it was typed in (whether the system then reports the path or finds it present).
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("New/Deeper/Trip")));
#else
  // A name of spaces is a name.
  EXPECT_TRUE(IsFolder(Q(folder.Path("New/Deeper/Trip/  "))));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("New/Deeper/Trip/  ")));
#endif
}

TEST_F(NewFolder, BelowATextEndingInTheSeparatorTheJoinKeepsBothSeparators) {
  // As below a root such as "/": the text box shows the joined text, the list its clean form.
  prompts.names = {"Trip"};
  const QString separator = QDir::separator();
  Type(Q(folder.Path("Pics")) + separator);
  dialog->cmdCreateFolder_Click();
  EXPECT_TRUE(IsFolder(Q(folder.Path("Pics/Trip"))));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics")) + separator + separator + "Trip");
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics/Trip")));
}

TEST_F(NewFolder, ExistingFolderIsOpenedNotCreated) {
  prompts.names = {"Old"};
  const auto before = std::filesystem::last_write_time(folder.Path("Pics"));
  dialog->cmdCreateFolder_Click();
  EXPECT_EQ(std::filesystem::last_write_time(folder.Path("Pics")), before);
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics/Old")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("Pics/Old")));
  EXPECT_TRUE(prompts.messages.empty());
}

// A folder under a regular file cannot be made, whoever runs the test.
TEST_F(NewFolder, FailureShowsTheReportAndAbortEndsTheCommand) {
  prompts.names = {"Trip"};
  Type(Q(folder.Path("blocker")));
  dialog->cmdCreateFolder_Click();
  ASSERT_EQ(prompts.messages.size(), 1u);
  const QString& report = prompts.messages[0].text;
  EXPECT_EQ(prompts.messages[0].buttons, MessageButtons::AbortRetryIgnore);
  EXPECT_TRUE(report.startsWith(QStringLiteral("錯誤編號 : "))) << report.toStdString();
  EXPECT_TRUE(report.contains(QStringLiteral(" \r\n描述 : "))) << report.toStdString();
  EXPECT_TRUE(report.endsWith(kLocation)) << report.toStdString();
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("blocker")));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics")));
}

TEST_F(NewFolder, RetryTriesTheCreationAgain) {
  prompts.names = {"Trip"};
  prompts.answers = {MessageAnswer::Retry, MessageAnswer::Retry};
  // The first retry fails again; before the second the user has cleared the way.
  prompts.beforeAnswer = [&](std::size_t shown) {
    if (shown == 2) {
      std::filesystem::remove(folder.Path("blocker"));
      std::filesystem::create_directory(folder.Path("blocker"));
    }
  };
  Type(Q(folder.Path("blocker")));
  dialog->cmdCreateFolder_Click();
  EXPECT_EQ(prompts.messages.size(), 2u);
  EXPECT_TRUE(IsFolder(Q(folder.Path("blocker/Trip"))));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("blocker/Trip")));
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("blocker/Trip")));
}

TEST_F(NewFolder, IgnoreGoesOnAndFindsNoFolderToOpen) {
  prompts.names = {"Trip"};
  prompts.answers = {MessageAnswer::Ignore};
  Type(Q(folder.Path("blocker")));
  dialog->cmdCreateFolder_Click();
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(FolderText(*dialog), Q(folder.Path("blocker")));
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics")));
  EXPECT_TRUE(dialog->isVisible());
}

TEST(FolderCreationErrors, ReasonsMapToTheReportsNumbers) {
#ifdef _WIN32
  const int missing[] = {ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND},
            refused[] = {ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT};
  const int taken = ERROR_ALREADY_EXISTS;
#else
  const int missing[] = {ENOTDIR, ENOENT}, refused[] = {EACCES, EROFS};
  const int taken = EEXIST;
#endif
  for (int reason : missing) EXPECT_EQ(FolderCreationError(reason).Number(), NumberedError::kPathNotFound) << reason;
  for (int reason : refused)
    EXPECT_EQ(FolderCreationError(reason).Number(), NumberedError::kPermissionDenied) << reason;
  EXPECT_EQ(FolderCreationError(taken).Number(), NumberedError::kPathFileAccessError);
  EXPECT_STREQ(FolderCreationError(taken).what(), "Path/File access error");
}
