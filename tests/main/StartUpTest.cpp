// Start-up and shut-down: the files beside the program, the proposed folder, the fallback places.
#include <gtest/gtest.h>

#include <QDir>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTranslator>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "textfile/TextFile.h"

#include "WindowTestSupport.h"
#include "main/StandardTranslation.h"

namespace {
const char* const kDefaultSettings = "fsizelimit=25\r\nfextlist=*.jpg;*.jpeg;*.bmp;*.gif;*.flv";
}  // namespace

TEST(StartUp, FirstRunInAnEmptyFolderProposesADatedFolderAndCreatesBothFiles) {
  TempDir folder;
  RecordingPrompts prompts;
  {
    frmMain window(TestEnvironment(folder));
    EXPECT_EQ(window.windowTitle(), "Tavrin 2007 Build 0722 - Tester (https://example.org)");
    EXPECT_EQ(window.ProgramFolderPath().toStdString(), folder.Path("program"));
    auto* box = Control<QComboBox>(window, "cboFolder");
    EXPECT_EQ(box->count(), 0);
    const QRegularExpression dated("^" + QRegularExpression::escape(QString::fromStdString(folder.Path("program"))) +
                                   QRegularExpression::escape(QDir::separator()) + "\\d{8}_\\d{6}$");
    EXPECT_TRUE(dated.match(box->currentText()).hasMatch()) << box->currentText().toStdString();
    EXPECT_EQ(Control<QLineEdit>(window, "txtMinFileSize")->text(), "25");
    EXPECT_EQ(Control<QLineEdit>(window, "txtFileExtList")->text(), "*.jpg;*.jpeg;*.bmp;*.gif;*.flv");
    auto* timer = Control<QTimer>(window, "Timer1");
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 6000);
    auto* pane = Control<WebBrowserPane>(window, "WebBrowser1");
    EXPECT_TRUE(pane->Silent());
    EXPECT_FALSE(pane->ShowsFolder());
    EXPECT_TRUE(pane->PageView()->toPlainText().contains(QStringLiteral("沒有找到任何瀏覽器快取")));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("program/Folders.txt")));
    window.close();
  }
  EXPECT_TRUE(prompts.messages.isEmpty());
  EXPECT_EQ(ReadFile(folder.Path("program/Folders.txt")), "");
  EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), kDefaultSettings);

  // The next start finds the empty list and loads no entries.
  frmMain again(TestEnvironment(folder));
  EXPECT_EQ(Control<QComboBox>(again, "cboFolder")->count(), 0);
  EXPECT_TRUE(prompts.messages.isEmpty());
}

// A program at the root of a drive has a folder path that ends in the separator ("D:\\"): loading
// adds no second one, nor does the proposed folder; saving writes the very files loading read.
TEST(StartUp, AProgramFolderEndingInTheSeparatorReadsAndWritesTheSameFiles) {
  TempDir folder;
  RecordingPrompts prompts;
  FormEnvironment environment = TestEnvironment(folder);
  const QString root = environment.executableFolder + QDir::separator();
  environment.executableFolder = root;
  WriteFile(folder.Path("program/Folders.txt"), "first\r\nsecond\r\n");
  WriteFile(folder.Path("program/Settings.txt"), "fsizelimit=40\r\nfextlist=*.png");
  {
    frmMain window(environment);
    auto* box = Control<QComboBox>(window, "cboFolder");
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(1), "second");
    EXPECT_EQ(Control<QLineEdit>(window, "txtMinFileSize")->text(), "40");
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(root) + "\\d{8}_\\d{6}$")
                    .match(box->currentText())
                    .hasMatch())
        << box->currentText().toStdString();
    window.AddFolder2List(box, "third");
    window.close();
  }
  EXPECT_TRUE(prompts.messages.isEmpty());
  EXPECT_EQ(ReadFile(folder.Path("program/Folders.txt")), "third\r\nfirst\r\nsecond\r\n");
  EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), "fsizelimit=40\r\nfextlist=*.png");
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path("program"))) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"Folders.txt", "Settings.txt"}));
}

TEST(StartUp, SettingsAreRestoredAsWrittenAndSavedBackTrimmed) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("program"));
  WriteFile(folder.Path("program/Settings.txt"), "FSIZELIMIT=30 \r\nfextlist=*.png;x=y\r\n");
  {
    frmMain window(TestEnvironment(folder));
    EXPECT_EQ(Control<QLineEdit>(window, "txtMinFileSize")->text(), "30 ");
    EXPECT_EQ(Control<QLineEdit>(window, "txtFileExtList")->text(), "*.png;x=y");
    window.close();
  }
  EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), "fsizelimit=30\r\nfextlist=*.png;x=y");
}

TEST(StartUp, AnUnwritableProgramFolderFallsBackToThePerUserFolders) {
  TempDir folder;
  FormEnvironment environment = TestEnvironment(folder);
  environment.executableFolder = QStringLiteral("/proc");  // not writable, not even for root
  {
    frmMain window(environment);
    EXPECT_EQ(window.ProgramFolderPath().toStdString(), folder.Path("data"));
    EXPECT_EQ(window.CaptureParentPath().toStdString(),
              QDir::toNativeSeparators(QString::fromStdString(folder.Path("pictures/Tavrin"))).toStdString());
    EXPECT_TRUE(Control<QComboBox>(window, "cboFolder")
                    ->currentText()
                    .startsWith(window.CaptureParentPath() + QDir::separator()));
    window.close();
  }
  EXPECT_EQ(ReadFile(folder.Path("data/Settings.txt")), kDefaultSettings);
  EXPECT_TRUE(std::filesystem::exists(folder.Path("data/Folders.txt")));
  EXPECT_FALSE(std::filesystem::exists("/proc/Settings.txt"));
}

TEST(StartUp, AnInstalledCopyKeepsItsFilesPerUserEvenInAWritableFolder) {
  TempDir folder;
  FormEnvironment environment = TestEnvironment(folder);
  environment.installed = true;
  frmMain window(environment);
  EXPECT_EQ(window.ProgramFolderPath().toStdString(), folder.Path("data"));
  window.close();
  EXPECT_FALSE(std::filesystem::exists(folder.Path("program/Settings.txt")));
  EXPECT_TRUE(std::filesystem::exists(folder.Path("data/Settings.txt")));
}

TEST(StartUp, AnUnreadableFolderListEndsTheLoadWithOneReport) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("program/Folders.txt"));
  WriteFile(folder.Path("program/Settings.txt"), "fsizelimit=99");
  RecordingPrompts prompts;
  frmMain window(TestEnvironment(folder));
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("錯誤編號 : 75 \r\n")));
  EXPECT_TRUE(prompts.messages[0].endsWith(QStringLiteral("發生位置 : frmMain.Form_Load ( Sub ) \r\n")));
  // The later steps did not run: the settings stay at their defaults and the pane stays blank.
  EXPECT_EQ(Control<QLineEdit>(window, "txtMinFileSize")->text(), "25");
  EXPECT_TRUE(Control<WebBrowserPane>(window, "WebBrowser1")->PageView()->toPlainText().isEmpty());
}

#ifndef _WIN32
// A FIFO would block the open, an endless device the read: each is reported, the window comes up,
// and neither file is overwritten at shut-down. A list longer than the window keeps is cut.
TEST(StartUp, SpecialOrOversizedFilesAreReportedAndLeftAsTheyAre) {
  struct Case {
    std::function<void(const std::string&)> folders, settings;
  };
  const auto fifo = [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); };
  const auto zero = [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); };
  const auto huge = [](const std::string& path) { WriteFile(path, std::string(TextFile::kLargestFile + 1, 'x')); };
  const auto fine = [](const std::string& path) { WriteFile(path, "fsizelimit=99\n"); };
  for (const Case& c : {Case{fifo, fine}, Case{fine, fifo}, Case{fine, zero}, Case{huge, fine}}) {
    TempDir folder;
    std::filesystem::create_directories(folder.Path("program"));
    c.folders(folder.Path("program/Folders.txt"));
    c.settings(folder.Path("program/Settings.txt"));
    const auto before = [&](const char* name) { return std::filesystem::symlink_status(folder.Path(name)).type(); };
    const auto foldersType = before("program/Folders.txt"), settingsType = before("program/Settings.txt");
    RecordingPrompts prompts;
    {
      frmMain window(TestEnvironment(folder));
      ASSERT_EQ(prompts.messages.size(), 1);
      EXPECT_TRUE(prompts.messages[0].endsWith(QStringLiteral("發生位置 : frmMain.Form_Load ( Sub ) \r\n")));
      window.close();
    }
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(before("program/Folders.txt"), foldersType);
    EXPECT_EQ(before("program/Settings.txt"), settingsType);
    if (settingsType == std::filesystem::file_type::regular) {
      EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), "fsizelimit=99\n");
    }
  }

  TempDir folder;
  std::filesystem::create_directories(folder.Path("program"));
  std::string many;
  for (int i = 0; i < 20; ++i) many += "/f" + std::to_string(i) + "\r\n";
  WriteFile(folder.Path("program/Folders.txt"), many);
  WriteFile(folder.Path("program/Settings.txt"), "fsizelimit=7\nfextlist=*.png\n");
  frmMain window(TestEnvironment(folder));
  auto* folders = Control<QComboBox>(window, "cboFolder");
  EXPECT_EQ(folders->count(), 20);  // loaded as the file stands
  EXPECT_EQ(folders->itemText(19), "/f19");
  frmMain::AddFolder2List(folders, QStringLiteral("/new"));
  ASSERT_EQ(folders->count(), frmMain::kMostFolders);  // the next addition trims from the bottom
  EXPECT_EQ(folders->itemText(0), "/new");
  EXPECT_EQ(folders->itemText(frmMain::kMostFolders - 1), QStringLiteral("/f%1").arg(frmMain::kMostFolders - 2));
  EXPECT_EQ(Control<QLineEdit>(window, "txtMinFileSize")->text(), "7");
  EXPECT_EQ(Control<QLineEdit>(window, "txtFileExtList")->text(), "*.png");
  window.close();
  EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), "fsizelimit=7\r\nfextlist=*.png");
}
#endif

TEST(StartUp, AFolderListThatCannotBeSavedIsReportedOnceAndTheSettingsAreStillSaved) {
  TempDir folder;
  RecordingPrompts prompts;
  frmMain window(TestEnvironment(folder));
  Control<QLineEdit>(window, "txtMinFileSize")->setText("40");
  std::filesystem::create_directories(folder.Path("program/Folders.txt/blocking"));
  window.close();
  window.close();  // a second close does not unload again
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages[0].endsWith(QStringLiteral("發生位置 : frmMain.Form_Unload ( Sub ) \r\n")));
  EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), "fsizelimit=40\r\nfextlist=*.jpg;*.jpeg;*.bmp;*.gif;*.flv");
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path("program/Folders.txt/blocking")));
  EXPECT_FALSE(window.isVisible());
}

TEST(StartUp, TheHomePageListsTheCachesThatWereFound) {
  TempDir folder;
  FormEnvironment environment = TestEnvironment(folder);
  environment.discoverCaches = [] {
    return std::vector<DiscoveredCache>{
        {CacheKind::ChromiumSimple, "/home/u/.cache/chromium/Default/Cache/Cache_Data", true},
        {CacheKind::Firefox, "/home/u/.cache/mozilla/firefox/p.default/cache2", true},
        {CacheKind::ChromiumBlockfile, "/old/<cache>", false}};
  };
  frmMain window(environment);
  const QString page = Control<WebBrowserPane>(window, "WebBrowser1")->PageView()->toPlainText();
  EXPECT_TRUE(page.contains("/home/u/.cache/chromium/Default/Cache/Cache_Data"));
  EXPECT_TRUE(page.contains("Firefox"));
  // The kinds' names come from the cache formats as UTF-8 and must arrive whole.
  EXPECT_TRUE(page.contains(QStringLiteral("Chromium 系列瀏覽器")));
  EXPECT_TRUE(page.contains(QStringLiteral("Chromium 舊式快取")));
  EXPECT_TRUE(page.contains("/old/<cache>"));  // shown as text, not taken as markup
  EXPECT_FALSE(page.contains(QStringLiteral("沒有找到任何瀏覽器快取")));
}

TEST(StartUp, QtsStandardButtonsSpeakTraditionalChinese) {
  QTranslator* translator = InstallStandardTranslation();
  ASSERT_NE(translator, nullptr);
  QMessageBox box(
      QMessageBox::NoIcon, kApplicationTitle, "x",
      QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
  const QStringList texts{box.button(QMessageBox::Ok)->text(), box.button(QMessageBox::Cancel)->text(),
                          box.button(QMessageBox::Abort)->text(), box.button(QMessageBox::Retry)->text(),
                          box.button(QMessageBox::Ignore)->text()};
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(texts, (QStringList{QStringLiteral("確定"), QStringLiteral("取消"), QStringLiteral("終止"),
                                QStringLiteral("重試"), QStringLiteral("忽略")}));
}
