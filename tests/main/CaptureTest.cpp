// Capture control: Start's checks, the tick copying from a cache into a real folder, Stop and
// closing the window in the middle of a pass, the thumbnails, refused new windows, the status line,
// inputs typed the short way ("~/", "jpg").
#include <gtest/gtest.h>

#include <QLabel>
#include <QStringListModel>
#include <cerrno>
#include <ctime>
#include <map>

#ifdef _WIN32
#include <windows.h>
#endif

#include "WindowTestSupport.h"
#include "base/CacheTime.h"
#include "base/PathText.h"
#include "cache/discovery/Discovery.h"
#include "harvest/cmnWinInet.h"
#include "main/FailureTexts.h"
#include "main/StatusLine.h"
#include "main/WindowLayout.h"
#include "support/CacheFixtures.h"
#include "widgets/NativeText.h"

namespace {

std::vector<std::string> VisibleNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

// Last used at the given Unix second.
CacheFileTime UsedAt(std::time_t unixSeconds) {
  return CacheFileTime::FromValue((static_cast<std::uint64_t>(unixSeconds) + 11644473600ull) * 10000000ull);
}

// Keeps what the walk settled, as the caches read in the background do: an entry settled under a
// context is not handed over again while that context is in use.
class SettlingSource : public UrlCacheSource {
 public:
  explicit SettlingSource(std::shared_ptr<ListCacheSource> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<CacheEntryCursor> Open() override { return std::make_unique<Cursor>(*this, inner_->Open()); }
  std::map<std::string, std::uint64_t> settled;  // address -> context
  std::vector<std::string> handedOver;

 private:
  class Cursor : public CacheEntryCursor {
   public:
    Cursor(SettlingSource& source, std::unique_ptr<CacheEntryCursor> inner)
        : source_(source), inner_(std::move(inner)) {}
    bool Next(CacheEntry& entry) override {
      while (inner_->Next(entry)) {
        const auto found = source_.settled.find(entry.url);
        if (context_ != 0 && found != source_.settled.end() && found->second == context_) continue;
        source_.handedOver.push_back(last_ = entry.url);
        return true;
      }
      return false;
    }
    void UseSettled(std::uint64_t context) override { context_ = context; }
    void Settle() override { source_.settled[last_] = context_; }

   private:
    SettlingSource& source_;
    std::unique_ptr<CacheEntryCursor> inner_;
    std::uint64_t context_ = 0;
    std::string last_;
  };
  std::shared_ptr<ListCacheSource> inner_;
};

// The UTC offset pinned for one test.
struct PinnedUtcOffset {
  explicit PinnedUtcOffset(std::int64_t seconds) { platform_time::PinUtcOffsetForTesting(seconds); }
  ~PinnedUtcOffset() { platform_time::UnpinUtcOffset(); }
};

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder.Path("cache"));
    counting = std::make_shared<CountingSource>(cache);
    window = std::make_unique<frmMain>(TestEnvironment(folder, counting));
    box = Control<QComboBox>(*window, "cboFolder");
    timer = Control<QTimer>(*window, "Timer1");
    pane = Control<WebBrowserPane>(*window, "WebBrowser1");
    Control<QLineEdit>(*window, "txtMinFileSize")->setText("0");
  }

  void AddPicture(const std::string& name, int seed) {
    cache->Add(CachedFile(folder.Path("cache/" + name), "http://pics.example/" + name, JpegBytes(seed)));
  }

  void StartIn(const std::string& destination) {
    box->setEditText(QString::fromStdString(destination));
    window->cmdStart_Click();
  }

  bool InputsEnabled(bool enabled) {
    for (const char* name : {"cmdStart", "txtFileExtList", "cmdSelFolder", "cboFolder", "txtMinFileSize"}) {
      if (Control<QWidget>(*window, name)->isEnabled() != enabled) return false;
    }
    return true;
  }

  TempDir folder;
  RecordingPrompts prompts;
  std::shared_ptr<ListCacheSource> cache = std::make_shared<ListCacheSource>();
  std::shared_ptr<CountingSource> counting;
  std::unique_ptr<frmMain> window;
  QComboBox* box = nullptr;
  QTimer* timer = nullptr;
  WebBrowserPane* pane = nullptr;
};

}  // namespace

TEST_F(Capture, StartRefusesAFolderTextWithoutASeparator) {
  box->setEditText("   ");
  window->cmdStart_Click();
  box->setEditText("  Pictures ");
  window->cmdStart_Click();
  EXPECT_EQ(prompts.messages, (QStringList{QStringLiteral("請確認目錄路徑是否正確.\r\n"),
                                           QStringLiteral("請確認目錄路徑是否正確.\r\nPictures")}));
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(InputsEnabled(true));
  EXPECT_EQ(box->count(), 0);
}

TEST_F(Capture, StartCreatesAMissingFolderListsAndShowsItAndLocksTheInputs) {
  const std::string destination = folder.Path("dest/2026/trip");
  StartIn("  " + destination + "  ");
  EXPECT_TRUE(prompts.messages.isEmpty());
  EXPECT_TRUE(std::filesystem::is_directory(destination));
  ASSERT_EQ(box->count(), 1);
  EXPECT_EQ(box->itemText(0).toStdString(), destination);
  EXPECT_TRUE(timer->isActive());
  EXPECT_TRUE(InputsEnabled(false));
  EXPECT_TRUE(Control<QPushButton>(*window, "cmdStop")->isEnabled());
  EXPECT_TRUE(pane->ShowsFolder());
  EXPECT_EQ(pane->LocationURL().toStdString(), destination);
  ASSERT_TRUE(HarvestedKeys);
  EXPECT_EQ(HarvestedKeys->Count(), 0u);
}

TEST_F(Capture, StartWithAFolderThatCannotBeCreatedChangesNothingButTheStatusLine) {
  // A folder below a regular file can be created on no platform.
  WriteFile(folder.Path("plain-file"), "x");
  const std::string refused = folder.Path("plain-file") + std::string(1, kPathSeparator) + "pictures";
  StartIn(refused);
  EXPECT_TRUE(prompts.messages.isEmpty());
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(InputsEnabled(true));
  EXPECT_EQ(box->count(), 0);
  EXPECT_FALSE(pane->ShowsFolder());
  // The status line says so, with the path and the system's reason in the window's language.
  auto* status = Control<StatusLine>(*window, "StatusLine");
  const QString said = status->FullText();
  EXPECT_TRUE(said.startsWith(QStringLiteral("無法開始：無法建立資料夾 ") + QString::fromStdString(refused) +
                              QStringLiteral("：")))
      << said.toStdString();
#ifndef _WIN32
  EXPECT_TRUE(said.contains(QStringLiteral("：不是資料夾；尚未開始擷取"))) << said.toStdString();
#endif
  EXPECT_FALSE(std::filesystem::exists(refused));
}

// A list that cannot take one more item, as when memory runs out.
class FullListModel : public QStringListModel {
 public:
  using QStringListModel::QStringListModel;
  bool insertRows(int, int, const QModelIndex&) override { throw std::bad_alloc(); }
};

TEST_F(Capture, AFailureWhileStartingIsReportedOnceAndLeavesTheCaptureStopped) {
  box->setModel(new FullListModel(box));
  const std::string destination = folder.Path("dest");
  StartIn(destination);
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("錯誤編號 : 7 \r\n描述 : ")))
      << prompts.messages[0].toStdString();
  EXPECT_TRUE(prompts.messages[0].endsWith(QStringLiteral("發生位置 : frmMain.cmdStart_Click ( Sub ) \r\n")));
  // The steps before the failing one stay done (the folder is made), none after it is.
  EXPECT_TRUE(std::filesystem::is_directory(destination));
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(InputsEnabled(true));
  EXPECT_FALSE(pane->ShowsFolder());
  EXPECT_EQ(Control<StatusLine>(*window, "StatusLine")->FullText(), QStringLiteral("尚未開始擷取"));
}

// Start takes the capture's start from the local clock: an entry used a second before it is left,
// one used a second after it is copied, in a zone far from UTC. A change of the UTC offset between
// passes (summer time, another zone) moves the entries' local times, and entries settled before it
// are judged again.
TEST_F(Capture, EntriesAreJudgedAgainstTheLocalClockAtStartAgainWhenTheUtcOffsetChanges) {
  PinnedUtcOffset taipei(8 * 3600);
  auto settling = std::make_shared<SettlingSource>(cache);
  window.reset();
  window = std::make_unique<frmMain>(TestEnvironment(folder, settling));
  box = Control<QComboBox>(*window, "cboFolder");
  Control<QLineEdit>(*window, "txtMinFileSize")->setText("0");
  const std::string destination = folder.Path("dest");
  const auto add = [&](const std::string& name, std::time_t usedAt) {
    CacheEntry entry = CachedFile(folder.Path("cache/" + name), "http://pics.example/" + name, JpegBytes(1));
    entry.lastAccess = UsedAt(usedAt);
    cache->Add(entry);
  };
  const std::time_t before = std::time(nullptr);
  StartIn(destination);
  const std::time_t after = std::time(nullptr);
  add("before.jpg", before - 1);
  add("after.jpg", after + 1);
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), Names{"after.jpg"});
  // Both are settled: the next pass is not handed them again.
  settling->handedOver.clear();
  window->Timer1_Timer();
  EXPECT_TRUE(settling->handedOver.empty());

  // An hour later on the local clock, what was used a second before the start is used after it.
  platform_time::PinUtcOffsetForTesting(9 * 3600);
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), (Names{"after.jpg", "before.jpg"}));
}

// The keyboard focus: in the thumbnails once a capture starts, on 開始 once it stops.
TEST_F(Capture, StartGivesTheFocusToTheThumbnailsAndStopToStart) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == window.get(); }));
  StartIn(folder.Path("dest"));
  EXPECT_EQ(QApplication::focusWidget(), pane->FolderView());
  window->cmdStop_Click();
  EXPECT_EQ(QApplication::focusWidget(), Control<QPushButton>(*window, "cmdStart"));
}

TEST_F(Capture, StopWhileIdleChangesNothingVisible) {
  window->cmdStop_Click();
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(InputsEnabled(true));
  EXPECT_FALSE(HarvestedKeys);
  EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(Capture, ATickCopiesWhatTheListSelectsIntoTheFolderAndShowsThumbnails) {
  AddPicture("a.jpg", 1);
  AddPicture("photo[1].jpg", 2);
  AddPicture("skipped.png", 3);
  cache->Add(CachedFile(folder.Path("cache/clip.flv"), "http://v.example/clip.flv", std::string(3000, 'v')));
  Control<QLineEdit>(*window, "txtFileExtList")->setText(" *.JPG ;*..flv");
  window->show();
  const std::string destination = folder.Path("dest");
  StartIn(destination);
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), (Names{"a.jpg", "clip.flv", "photo.jpg"}));
  EXPECT_EQ(ReadFile(destination + "/photo.jpg"), JpegBytes(2));
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), (Names{"a.jpg", "clip.flv", "photo.jpg"}));
  EXPECT_EQ(counting->opens, 2);

  ThumbnailModel* thumbnails = pane->Thumbnails();
  EXPECT_TRUE(WaitUntil([&] {
    return thumbnails->HasThumbnail(QString::fromStdString(destination + "/a.jpg")) &&
           thumbnails->HasThumbnail(QString::fromStdString(destination + "/photo.jpg"));
  })) << "the copied pictures were not shown as thumbnails";
  EXPECT_TRUE(WaitUntil([&] { return thumbnails->DecodesPending() == 0; }));
  EXPECT_FALSE(thumbnails->HasThumbnail(QString::fromStdString(destination + "/clip.flv")));
  // Where a copy's temporary file can be seen while it is written (under Wine its hidden mark does
  // not always show yet), the listing may hold it for a moment; it settles on the three copies.
  const auto rows = [&] { return pane->FolderView()->model()->rowCount(pane->FolderView()->rootIndex()); };
  WaitUntil([&] { return rows() == 3; });
  EXPECT_EQ(rows(), 3);
}

// The window over the URL cache the program itself makes: the caches found, read in the
// background. An entry the browser stores during the capture is copied and shown; one last used
// an hour before 開始 is not.
TEST(CaptureOverTheProgramsCache, AnEntryStoredDuringTheCaptureIsCopiedAndShown) {
  TempDir folder;
  RecordingPrompts prompts;
  const std::string cacheFolder = folder.Sub("Cache_Data");
  fixtures::WriteChromiumIndexMarker(cacheFolder);
  const std::string old =
      fixtures::WriteChromiumEntry(cacheFolder, {.key = "1/0/http://pics.example/old.jpg", .body = JpegBytes(1)});
  fixtures::SetModificationTime(old, std::time(nullptr) - 3600);
  FormEnvironment environment = TestEnvironment(folder);
  environment.makeUrlCache = [cacheFolder] {
    return MakeUrlCacheOf({{CacheKind::ChromiumSimple, cacheFolder}}, CacheReading::InBackground);
  };
  frmMain window(environment);
  window.show();
  Control<QLineEdit>(window, "txtMinFileSize")->setText("0");
  const std::string destination = folder.Path("dest");
  Control<QComboBox>(window, "cboFolder")->setEditText(QString::fromStdString(destination));
  window.cmdStart_Click();
  // Used the second after 開始 (times count in whole seconds, and only later ones are taken).
  const std::string stored =
      fixtures::WriteChromiumEntry(cacheFolder, {.key = "1/0/http://pics.example/new.jpg", .body = JpegBytes(2)});
  fixtures::SetModificationTime(stored, std::time(nullptr) + 1);
  EXPECT_TRUE(WaitUntil(
      [&] {
        window.Timer1_Timer();
        return std::filesystem::exists(destination + "/new.jpg");
      },
      20000))
      << "the entry stored during the capture was not copied";
  EXPECT_EQ(ReadFile(destination + "/new.jpg"), JpegBytes(2));
  window.Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), (Names{"new.jpg"}));
  ThumbnailModel* thumbnails = Control<WebBrowserPane>(window, "WebBrowser1")->Thumbnails();
  EXPECT_TRUE(WaitUntil([&] { return thumbnails->HasThumbnail(QString::fromStdString(destination + "/new.jpg")); }));
  EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(Capture, TheStatusLineTellsWhatTheCaptureTookAndWhyAPassFailedWithoutADialog) {
  auto* status = Control<QLabel>(*window, "StatusLine");
  EXPECT_EQ(status->text(), QStringLiteral("尚未開始擷取"));
  AddPicture("a.jpg", 1);
  AddPicture("b.jpg", 2);
  const std::string destination = folder.Path("dest");
  StartIn(destination);
  EXPECT_TRUE(status->text().startsWith(QStringLiteral("擷取中：自 "))) << status->text().toStdString();
  EXPECT_TRUE(status->text().contains(QStringLiteral("已擷取 0 個檔案")));
  window->Timer1_Timer();
  EXPECT_TRUE(status->text().contains(QStringLiteral("已擷取 2 個檔案"))) << status->text().toStdString();
  EXPECT_TRUE(status->text().contains(QStringLiteral("；上次掃描 ")));
  EXPECT_FALSE(status->text().contains(QStringLiteral("失敗")));

#ifdef _WIN32
  // Wine only marks a folder that the window watches for deletion, and keeps taking files into it;
  // here the picture's cache file vanishes instead.
  AddPicture("c.jpg", 3);
  std::filesystem::remove(folder.Path("cache/c.jpg"));
#else
  std::filesystem::remove_all(destination);
  AddPicture("c.jpg", 3);
#endif
  window->Timer1_Timer();
  // The removed folder ends the pass; a vanished file ends only its own entry, and is said too.
  ASSERT_FALSE(LastPassStatistics().error.empty());
  // What failed first, in the window's language, then the capture; the whole text in the tooltip.
  const QString said = Control<StatusLine>(*window, "StatusLine")->FullText();
  EXPECT_EQ(status->toolTip(), said);
  EXPECT_TRUE(said.contains(QStringLiteral("；擷取中：自 ")));
  EXPECT_TRUE(said.contains(QStringLiteral("已擷取 2 個檔案")));
#ifdef _WIN32
  EXPECT_TRUE(said.startsWith(QStringLiteral("上次掃描失敗："))) << said.toStdString();
#else
  EXPECT_TRUE(said.startsWith(QStringLiteral("上次掃描失敗：目的資料夾不存在 ") + QString::fromStdString(destination)))
      << said.toStdString();
  EXPECT_TRUE(said.contains(QStringLiteral("：沒有此檔案或資料夾；"))) << said.toStdString();
  EXPECT_EQ(LastPassStatistics().errorCode, ENOENT);
  EXPECT_FALSE(said.contains(QStringLiteral("No such"))) << said.toStdString();
  // At the window's default width the line fits: the path gives way in its middle.
  window->resize(DesignClientSize());
  window->show();
  ASSERT_TRUE(WaitUntil([&] { return status->width() == DesignClientSize().width(); }));
  const QString shown = status->text();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("上次掃描失敗：目的資料夾不存在 "))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("…")));
  EXPECT_TRUE(shown.contains(QStringLiteral("：沒有此檔案或資料夾；擷取中：")));
  const QString failure = shown.left(shown.indexOf(QStringLiteral("；擷取中")));
  EXPECT_LE(status->fontMetrics().horizontalAdvance(failure), status->contentsRect().width() - 2 * status->indent());
#endif
  EXPECT_TRUE(prompts.messages.isEmpty());

  window->cmdStop_Click();
  EXPECT_EQ(status->text(), QStringLiteral("已停止：本次擷取共 2 個檔案"));
}

TEST_F(Capture, BareExtensionsAreStoredAsPatternsAndATildeFolderIsInTheHomeFolder) {
  AddPicture("a.jpg", 1);
  cache->Add(CachedFile(folder.Path("cache/c.gif"), "http://pics.example/c.gif", std::string(3000, 'g')));
  auto* extensions = Control<QLineEdit>(*window, "txtFileExtList");
  extensions->setText("jpg; .GIF");
#ifdef _WIN32
  const std::string destination = folder.Path("dest");
  StartIn(destination);
#else
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", QByteArray::fromStdString(folder.Path("home")));
  StartIn("~/pictures");
  qputenv("HOME", home);
  const std::string destination = folder.Path("home/pictures");
  EXPECT_EQ(box->currentText().toStdString(), destination);
  EXPECT_EQ(box->itemText(0).toStdString(), destination);
#endif
  EXPECT_EQ(extensions->text(), "*.jpg;*.GIF");
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), (Names{"a.jpg", "c.gif"}));
}

TEST_F(Capture, TicksThatFallDuringAPassReturnAtOnce) {
  AddPicture("a.jpg", 1);
  AddPicture("b.jpg", 2);
  StartIn(folder.Path("dest"));
  // Delivered while the pass lets events run after its first copy.
  QMetaObject::invokeMethod(
      window.get(), [this] { window->Timer1_Timer(); }, Qt::QueuedConnection);
  QMetaObject::invokeMethod(
      window.get(), [this] { window->Timer1_Timer(); }, Qt::QueuedConnection);
  window->Timer1_Timer();
  EXPECT_EQ(counting->opens, 1);
  EXPECT_EQ(VisibleNames(folder.Path("dest")), (Names{"a.jpg", "b.jpg"}));
  EXPECT_FALSE(window->PassInProgress());
}

TEST_F(Capture, StopInTheMiddleOfAPassEndsItAndTheNextCaptureCarriesOn) {
  for (int i = 0; i < 5; ++i) AddPicture("p" + std::to_string(i) + ".jpg", i);
  const std::string destination = folder.Path("dest");
  StartIn(destination);
  QMetaObject::invokeMethod(Control<QPushButton>(*window, "cmdStop"), "click", Qt::QueuedConnection);
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), Names{"p0.jpg"});
  EXPECT_FALSE(window->PassInProgress());
  EXPECT_FALSE(HarvestedKeys);
  EXPECT_FALSE(timer->isActive());
  EXPECT_TRUE(InputsEnabled(true));

  window->cmdStart_Click();
  window->Timer1_Timer();
  // The picture copied before the Stop is found present, not copied a second time.
  EXPECT_EQ(VisibleNames(destination), (Names{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));

  // Stop and Start into another folder inside one pass: the old pass copies nothing more into the
  // old folder and records nothing for the new capture, whose first tick copies everything.
  window->cmdStop_Click();
  const std::string second = folder.Path("second");
  for (int i = 5; i < 8; ++i) AddPicture("p" + std::to_string(i) + ".jpg", i);
  window->cmdStart_Click();
  QMetaObject::invokeMethod(
      window.get(),
      [&] {
        window->cmdStop_Click();
        StartIn(second);
      },
      Qt::QueuedConnection);
  window->Timer1_Timer();
  // The pass ends at its first step after Stop: at most the copy under way (p5) lands in the old
  // folder, depending on whether the walk's own event point came before it.
  EXPECT_LE(VisibleNames(destination).size(), 6u);
  EXPECT_EQ(HarvestedKeys->Count(), 0u);
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(second).size(), 8u);
}

TEST_F(Capture, ClosingTheWindowInTheMiddleOfAPassSavesAndEndsThePass) {
  for (int i = 0; i < 5; ++i) AddPicture("p" + std::to_string(i) + ".jpg", i);
  const std::string destination = folder.Path("dest");
  window->show();
  StartIn(destination);
  QMetaObject::invokeMethod(window.get(), "close", Qt::QueuedConnection);
  window->Timer1_Timer();
  EXPECT_EQ(VisibleNames(destination), Names{"p0.jpg"});
  // Ended as Stop ends a pass; the closing is no failure.
  EXPECT_TRUE(LastPassStatistics().endedByStop);
  EXPECT_FALSE(LastPassStatistics().endedByError) << LastPassStatistics().error;
  EXPECT_FALSE(window->PassInProgress());
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(ReadFile(folder.Path("program/Folders.txt")), destination + "\r\n");
  EXPECT_EQ(ReadFile(folder.Path("program/Settings.txt")), "fsizelimit=0\r\nfextlist=*.jpg;*.jpeg;*.bmp;*.gif;*.flv");
  EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(Capture, TheSizeFieldIsRewrittenOnlyWhenItsValueCannotBeUsed) {
  auto* size = Control<QLineEdit>(*window, "txtMinFileSize");
  size->setText("-5");
  EXPECT_EQ(window->GetMinFileSize(), 25);
  EXPECT_EQ(size->text(), "25");
  size->setText("250000");
  EXPECT_EQ(window->GetMinFileSize(), 100000);
  EXPECT_EQ(size->text(), "100000");
  size->setText("30 ");
  EXPECT_EQ(window->GetMinFileSize(), 30);
  EXPECT_EQ(size->text(), "30 ");
}

TEST_F(Capture, ThePaneNeverOpensANewWindow) {
  window->show();
  const int windows = QApplication::topLevelWidgets().size();
  const QString before = pane->LocationURL();
  emit pane->PageView()->anchorClicked(QUrl("https://popup.example/ad.html"));
  EXPECT_EQ(QApplication::topLevelWidgets().size(), windows);
  EXPECT_EQ(pane->LocationURL(), before);
  bool cancel = false;
  window->WebBrowser1_NewWindow2(cancel);
  EXPECT_TRUE(cancel);
}

// The reason a cache source gives for a cache the browser holds open reaches the status line in
// the window's language, not in the core's English.
// A reason that is a system error's is said in the system's own words in the user's language
// (Windows's message text), not in the core's.
TEST(FailureTexts, ACacheTheBrowserHoldsIsSaidInTheWindowsLanguage) {
  const QString said = ReasonInWindowLanguage(kHeldByBrowserReason);
  EXPECT_TRUE(said.contains(QStringLiteral("關閉瀏覽器後"))) << said.toStdString();
  EXPECT_FALSE(said.contains(QStringLiteral("browser")));

#ifdef _WIN32
  const int denied = ERROR_ACCESS_DENIED;
#else
  const int denied = EACCES;
#endif
  const CopyFailure failure(NumberedError::FromSystemError(denied), PassErrorKind::PermissionDenied,
                            "cannot write into", "/dest");
  EXPECT_EQ(failure.ReasonCode(), denied);
  EXPECT_EQ(CopyFailure(NumberedError::FromSystemError(denied), PassErrorKind::SourceUnreadable, "cannot read", "/c",
                        "not a regular file")
                .ReasonCode(),
            0);
  StatusLine status;
  status.CaptureStarted(QDateTime::currentDateTime());
  PassStatistics outcome;
  outcome.endedByError = true;
  outcome.error = failure.Line();
  outcome.errorKind = failure.Kind();
  outcome.errorPath = failure.Path();
  outcome.errorReason = "the core's own words";
  outcome.errorCode = failure.ReasonCode();
  status.PassEnded(status.PassStarted(), QDateTime::currentDateTime(), 5, outcome);
  EXPECT_TRUE(status.FullText().contains(SystemReasonText(denied))) << status.FullText().toStdString();
  EXPECT_FALSE(status.FullText().contains(QStringLiteral("core's"))) << status.FullText().toStdString();
}
