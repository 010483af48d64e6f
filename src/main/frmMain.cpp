#include "main/frmMain.h"

#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/FileWriter.h"
#include "base/PathText.h"
#include "cache/UrlCacheEnumeration.h"
#include "dialogs/dlgPath.h"
#include "harvest/ExtensionList.h"
#include "harvest/TypedInput.h"
#include "harvest/cmnWinInet.h"
#include "main/CaptureRules.h"
#include "main/ComboListControl.h"
#include "main/FailureTexts.h"
#include "main/HomePage.h"
#include "main/ProgramFolder.h"
#include "main/SettingsText.h"
#include "main/WindowLayout.h"
#include "textfile/TextFile.h"
#include "widgets/ControlFactory.h"
#include "widgets/ErrorReport.h"
#include "widgets/FieldText.h"
#include "widgets/NativeText.h"
#include "widgets/TruthText.h"
#include "widgets/UserPrompts.h"

namespace {

constexpr int kTimerIntervalMs = 6000;
const char* const kFoldersFile = "Folders.txt";
const char* const kSettingsFile = "Settings.txt";

// Why the folder cannot be made: the system's error for making its first missing folder (made
// and removed again if it can be made now).
int FolderCreationSystemError(const QString& folder) {
  QString missing = QDir::cleanPath(folder);
  for (QString parent = QFileInfo(missing).path(); parent != missing && !QFileInfo::exists(parent);
       parent = QFileInfo(missing).path()) {
    missing = parent;
  }
#ifdef _WIN32
  const std::wstring path = QDir::toNativeSeparators(missing).toStdWString();
  if (CreateDirectoryW(path.c_str(), nullptr)) {
    RemoveDirectoryW(path.c_str());
    return ERROR_PATH_NOT_FOUND;
  }
  return static_cast<int>(GetLastError());
#else
  const QByteArray path = QFile::encodeName(missing);
  if (mkdir(path.constData(), 0777) == 0) {
    rmdir(path.constData());
    return ENOENT;
  }
  return errno;
#endif
}

QString TwoDigits(int number) { return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0')); }

}  // namespace

QString MainWindowCaption(int major, int minor, int revision, const QString& author, const QString& address) {
  QString caption = kApplicationTitle + QLatin1Char(' ') + QString::number(major) + QStringLiteral(" Build ") +
                    TwoDigits(minor) + TwoDigits(revision) + QStringLiteral(" - ") + author;
  if (!address.isEmpty()) caption += QStringLiteral(" (") + address + QLatin1Char(')');
  return caption;
}

frmMain::frmMain(FormEnvironment environment, QWidget* parent) : QWidget(parent), environment_(std::move(environment)) {
  setObjectName(QStringLiteral("frmMain"));
  CreateControls();
  resize(DesignClientSize());
  session_ = std::make_unique<CaptureSession>(CaptureWiring{
      // The URL cache comes with the load.
      .urlCache = nullptr,
      // Every copy the harvest places shows in the pane at once, without listing the folder again.
      .observer =
          [this](const CopyOutcome& copy) {
            WebBrowser1->FileArrived(FromNative(copy.target));
            if (copy.kind != CopyOutcome::Kind::AlreadyPresent) lblStatus->FileCopied();
          },
      .pendingEvents = [this] { PendingEvents(); },
  });
  Form_Load();
}

frmMain::~frmMain() {
  // The URL cache installed by the load ends with the window, and its background threads with it.
  session_.reset();
}

void frmMain::CreateControls() {
  QFont boxFont(QStringLiteral("Courier New"), 9, QFont::Normal);
  boxFont.setStyleHint(QFont::TypeWriter);  // fontconfig's stand-in where the font is missing

  const ControlFactory<frmMain> make(this, ControlRect);

  // Created in tab order, which is then the focus chain.
  make.Button(cmdSelFolder, "cmdSelFolder", QStringLiteral("..."), &frmMain::cmdSelFolder_Click);
  make.Button(cmdStart, "cmdStart", QStringLiteral("開始"), &frmMain::cmdStart_Click);
  make.Button(cmdStop, "cmdStop", QStringLiteral("停止"), &frmMain::cmdStop_Click);
  txtMinFileSize = new QLineEdit(QStringLiteral("25"), this);
  make.Place(txtMinFileSize, "txtMinFileSize");
  txtMinFileSize->setFont(boxFont);
  txtFileExtList = new QLineEdit(FromNative(std::string(kDefaultExtensionList)), this);
  make.Place(txtFileExtList, "txtFileExtList");
  txtFileExtList->setFont(boxFont);
  WebBrowser1 = new WebBrowserPane(this);
  make.Place(WebBrowser1, "WebBrowser1");
  WebBrowser1->SetHomePage([this] {
    return HomePageHtml(environment_.discoverCaches ? environment_.discoverCaches() : std::vector<DiscoveredCache>{});
  });
  connect(WebBrowser1, &WebBrowserPane::NewWindow2, this, [this](bool* cancel) { WebBrowser1_NewWindow2(*cancel); });
  make.Label(Label1, "Label1", QStringLiteral("圖片存放資料夾:"));
  make.Label(Label2, "Label2", QStringLiteral("KB"));
  make.Label(Label3, "Label3", QStringLiteral("圖片大小至少"));
  make.Label(Label4, "Label4", QStringLiteral("且 副檔名為"));
  cboFolder = new QComboBox(this);
  make.Place(cboFolder, "cboFolder");
  cboFolder->setEditable(true);
  // The list holds only what AddFolder2List puts there: Enter must not add the typed text, and
  // completion must not change the letter case of what is typed.
  cboFolder->setInsertPolicy(QComboBox::NoInsert);
  cboFolder->completer()->setCaseSensitivity(Qt::CaseSensitive);
  cboFolder->setEditText(QStringLiteral("Combo1"));
  lblStatus = new StatusLine(this);

  // Labels reach under the controls to their right and lie beneath them.
  for (QLabel* label : {Label1, Label2, Label3, Label4}) label->lower();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kTimerIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
}

void frmMain::Form_Load() {
  try {
    setWindowTitle(MainWindowCaption(environment_.versionMajor, environment_.versionMinor, environment_.versionRevision,
                                     environment_.author, environment_.authorAddress));
    InitCacheBuffer();
    if (environment_.makeUrlCache) session_->UseUrlCache(environment_.makeUrlCache());

    const ProgramPlaces places = ResolveProgramPlaces(environment_.executableFolder, environment_.installed,
                                                      environment_.userDataFolder, environment_.picturesFolder);
    programFolder_ = places.settingsFolder;
    captureParent_ = places.captureParent;
    const std::string folder = ToNative(programFolder_);

    // A file that cannot be read (too large, not a regular file, unreadable) is reported and left
    // as it is at shut-down: it is not ours to overwrite.
    TextFile file;
    const std::string foldersPath = JoinPath(folder, kFoldersFile);
    if (PathExists(foldersPath)) {
      file.Filename(foldersPath);
      ComboListControl list(cboFolder);
      file.LoadComboBox(list);
    }
    saveFolders_ = true;

    // A new, not yet existing folder for every run; it is created by Start.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    cboFolder->setEditText(FromNative(JoinPath(ToNative(captureParent_), ToNative(stamp))));

    const std::string settingsPath = JoinPath(folder, kSettingsFile);
    if (PathExists(settingsPath)) {
      file.Filename(settingsPath);
      CaptureSettings settings{ToNative(txtMinFileSize->text()), ToNative(txtFileExtList->text())};
      ApplySettingsText(file.Text(), settings);
      txtMinFileSize->setText(FromNative(settings.minFileSize));
      txtFileExtList->setText(FromNative(settings.extensionList));
    }
    saveSettings_ = true;

    HarvestedKeys = std::make_unique<KeyedCollection>();
    WebBrowser1->SetSilent(true);
    WebBrowser1->Navigate2(kHomePageAddress);
  } catch (const std::exception& error) {
    ReportError(error, "Form_Load");
  }
}

void frmMain::Form_Unload() {
  unloaded_ = true;
  // The saves below let events run; no new pass may start in the middle of them.
  Timer1->stop();
  // Without a program folder (the load failed before it was known) there is nowhere to save to.
  if (!programFolder_.isEmpty()) {
    const std::string folder = ToNative(programFolder_) + kPathSeparator;
    try {
      if (saveFolders_) {
        TextFile list;
        list.Filename(folder + kFoldersFile);
        const ComboListControl entries(cboFolder);
        list.SaveComboBox(entries);
      }
    } catch (const std::exception& error) {
      // Reported once; the settings are still saved and the window still closes.
      ReportError(error, "Form_Unload");
    }
    if (saveSettings_) {
      try {
        TextFile settings;
        settings.Filename(folder + kSettingsFile);
        settings.SaveText(SettingsText({ToNative(txtMinFileSize->text()), ToNative(txtFileExtList->text())}));
      } catch (const std::exception& error) {
        ReportError(error, "Form_Unload");
      }
    }
  }
}

void frmMain::closeEvent(QCloseEvent* event) {
  if (!unloaded_) Form_Unload();
  event->accept();
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  WebBrowser1->setGeometry(FittedBrowserPane(WebBrowser1->geometry(), size()));
  lblStatus->setGeometry(FittedStatusLine(size()));
}

void frmMain::PendingEvents() {
  QCoreApplication::processEvents();
  // A pass during which the window unloaded ends at its next step and touches nothing of the
  // window afterwards.
  if (passInProgress_ && unloaded_) EndRunningPass();
}

void frmMain::ReportError(const std::exception& error, const char* procedure) {
  ShowMessage(this, ErrorReportText(error, ErrorLocation(QStringLiteral("frmMain"), QLatin1String(procedure))));
}

void frmMain::SetInputsEnabled(bool enabled) {
  for (QWidget* input :
       std::initializer_list<QWidget*>{cmdStart, txtFileExtList, cmdSelFolder, cboFolder, txtMinFileSize}) {
    input->setEnabled(enabled);
  }
}

void frmMain::cmdStart_Click() {
  try {
    // "~/..." names a folder in the home folder; the box then shows the folder it names.
    const QString folder = FromNative(ExpandHomeFolder(ToNative(TrimSpaces(cboFolder->currentText()))));
    if (!folder.contains(QLatin1Char(kPathSeparator))) {
      ShowMessage(this, QStringLiteral("請確認目錄路徑是否正確.\r\n") + folder);
      return;
    }
    const std::string nativeFolder = ToNative(folder);
    FileSystemObject fso;
    if (!fso.FolderExists(nativeFolder)) CreateFolderPath(nativeFolder);
    if (!fso.FolderExists(nativeFolder)) {
      lblStatus->StartRefused(folder, SystemReasonText(FolderCreationSystemError(folder)));
      return;
    }

    if (folder != TrimSpaces(cboFolder->currentText())) cboFolder->setEditText(folder);
    // Bare extensions ("jpg", ".jpg") are written as the patterns they stand for ("*.jpg").
    const QString extensions = FromNative(ExpandExtensionItems(ToNative(txtFileExtList->text())));
    if (extensions != txtFileExtList->text()) txtFileExtList->setText(extensions);
    AddFolder2List(cboFolder, folder);
    // Temporary files that a crashed run left (where copies cannot be unnamed files).
    RemoveLeftoverCopies(nativeFolder);
    HarvestedKeys = std::make_unique<KeyedCollection>();
    // The pane shows the folder as thumbnails straight away.
    WebBrowser1->Navigate2(folder);
    captureStart_ = DateValue::Now();
    lblStatus->CaptureStarted(QDateTime::currentDateTime());
    Timer1->start();
    // cmdStart, txtFileExtList, cmdSelFolder, cboFolder, txtMinFileSize, in this order.
    SetInputsEnabled(false);
    QCoreApplication::processEvents();
    WebBrowser1->SetFocus();
  } catch (const std::exception& error) {
    ReportError(error, "cmdStart_Click");
  }
}

void frmMain::cmdStop_Click() {
  Timer1->stop();
  lblStatus->CaptureStopped();
  cmdStart->setEnabled(true);
  cmdStart->setFocus(Qt::OtherFocusReason);
  // A pass running now ends at its next use of the collection.
  HarvestedKeys.reset();
  for (QWidget* input : std::initializer_list<QWidget*>{cboFolder, txtMinFileSize, txtFileExtList, cmdSelFolder}) {
    input->setEnabled(true);
  }
}

void frmMain::cmdSelFolder_Click() {
  // A new dialog every time, given the folder box's text as it stands. Only OK hands a folder
  // back, and then exactly as the dialog's text box held it (even empty). The window owns the
  // dialog only to keep it above the window and out of the task bar.
  dlgPath dialog(this, programFolder_);
  dialog.strPath = cboFolder->currentText();
  dialog.exec();
  if (!TruthValue(dialog.blnCancel)) cboFolder->setEditText(dialog.strPath);
}

void frmMain::Timer1_Timer() {
  if (busy_) return;
  busy_ = true;
  const int pass = lblStatus->PassStarted();
  const QDateTime passStart = QDateTime::currentDateTime();
  QElapsedTimer passClock;
  passClock.start();
  try {
    const std::string extensionList = NormalizeExtensionList(ToNative(txtFileExtList->text()));
    // Trimmed as Start trimmed it, so the pass writes into the folder that Start made.
    const std::string folder = ToNative(TrimSpaces(cboFolder->currentText()));
    const std::int32_t minimumKb = GetMinFileSize();
    passInProgress_ = true;
    HarvestCache(extensionList, captureStart_, folder, minimumKb);
    // Its outcome shows in the status line; the tick itself shows no dialog.
    if (!unloaded_) lblStatus->PassEnded(pass, passStart, passClock.elapsed(), LastPassStatistics());
  } catch (...) {
    // The tick failed around its pass: the status line says why, and the next tick tries again.
    PassStatistics failed;
    NotePassFault(failed, std::current_exception());
    if (!unloaded_) lblStatus->PassEnded(pass, passStart, passClock.elapsed(), failed);
  }
  passInProgress_ = false;
  busy_ = false;
}

std::int32_t frmMain::GetMinFileSize() {
  try {
    const MinFileSizeReading reading = ReadMinFileSize(txtMinFileSize->text(), QLocale());
    if (reading.replacementText) txtMinFileSize->setText(*reading.replacementText);
    return reading.kilobytes;
  } catch (...) {
    txtMinFileSize->setText(QStringLiteral("25"));
    return 25;
  }
}

void frmMain::WebBrowser1_NewWindow2(bool& Cancel) { Cancel = true; }
