#include "dialogs/dlgPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include "base/FileSystemObject.h"
#include "base/FolderPath.h"
#include "base/PathText.h"
#include "dialogs/FolderCreationError.h"
#include "dialogs/dlgPathLayout.h"
#include "widgets/ControlFactory.h"
#include "widgets/ErrorReport.h"
#include "widgets/FieldText.h"
#include "widgets/NativeText.h"
#include "widgets/TruthText.h"
#include "widgets/UserPrompts.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString DescriptionOf(const std::exception& error) { return FromNative(error.what()); }

}  // namespace

dlgPath::dlgPath(QWidget* owner, const QString& programFolder)
    : QDialog(owner),
      programFolder_(programFolder.isEmpty() ? QDir::toNativeSeparators(QCoreApplication::applicationDirPath())
                                             : programFolder) {
  setObjectName(QStringLiteral("dlgPath"));
  setWindowTitle(QStringLiteral("選擇資料夾"));
  // A fixed dialog frame with a close button only.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(true);
  setFixedSize(PathDialogClientSize());
  CreateControls();
}

void dlgPath::CreateControls() {
  const ControlFactory<dlgPath> make(this, PathDialogRect);

  // Created in tab order, which is then the focus chain; the text box comes first.
  txtFolder = new QLineEdit(this);
  make.Place(txtFolder, "txtFolder");
  Drive1 = new DriveListBox(this);
  make.Place(Drive1, "Drive1");
  Dir1 = new FolderListBox(this);
  make.Place(Dir1, "Dir1");
  make.Button(OKButton, "OKButton", QStringLiteral("確定"), &dlgPath::OKButton_Click);
  make.Button(CancelButton, "CancelButton", QStringLiteral("取消"), &dlgPath::CancelButton_Click);
  make.Button(cmdCreateFolder, "cmdCreateFolder", QStringLiteral("新增資料夾"), &dlgPath::cmdCreateFolder_Click);
  make.Label(Label1, "Label1", QStringLiteral("磁碟機 / 資料夾"));
  make.Label(Label2, "Label2", QStringLiteral("選擇資料夾"));
  // Labels reach under the controls below them.
  for (QLabel* label : {Label1, Label2}) label->lower();
  // No button is the default one, not even for a moment: Enter in the text box closes nothing.
  for (QPushButton* button : {OKButton, CancelButton, cmdCreateFolder}) button->setAutoDefault(false);

  // Like the platform's lists, both start on the current folder and its drive.
  const QString current = QDir::currentPath();
  try {
    Drive1->SelectDriveOf(current);
    Dir1->SetPath(current);
  } catch (const std::exception&) {
    // No current folder (it was removed): loading opens a folder.
  }

  connect(Drive1, &DriveListBox::Change, this, &dlgPath::Drive1_Change);
  connect(Dir1, &FolderListBox::Change, this, &dlgPath::Dir1_Change);
  connect(Dir1, &FolderListBox::Click, this, &dlgPath::Dir1_Click);
  connect(Dir1, &FolderListBox::OpenFailed, this, [this](const QString& folder, const QString& reason) {
    ShowMessage(this, QStringLiteral("無法開啟資料夾 ") + folder + QLatin1Char('.') + kCrLf + reason);
  });
}

void dlgPath::setVisible(bool visible) {
  if (visible && !loaded_) {
    loaded_ = true;
    Form_Load();
    CentreOnScreen();
    txtFolder->setFocus(Qt::OtherFocusReason);
  }
  QDialog::setVisible(visible);
}

void dlgPath::CentreOnScreen() {
  QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  move(area.center() - QPoint(width() / 2, height() / 2));
}

void dlgPath::Form_Load() {
  blnCancel = TruthText(true);
  try {
    txtFolder->setText(strPath);
    if (Drive1->SelectDriveOf(strPath)) OpenDriveFolder();
    Dir1->SetPath(strPath);  // its change handler copies the list's form into the text box
  } catch (const std::exception&) {
    // Blank text, no such drive or no such folder: the program's folder instead, silently.
    ShowFolder(programFolder_);
  }
}

void dlgPath::ShowFolder(const QString& folder) {
  // When even the program's folder cannot be shown (removed, unreadable), the current folder and
  // then the root are tried, so that the dialog always opens on a folder that exists.
  for (const QString& candidate :
       {folder, QDir::toNativeSeparators(QDir::currentPath()), QDir::toNativeSeparators(QDir::rootPath())}) {
    try {
      txtFolder->setText(candidate);
      if (Drive1->SelectDriveOf(candidate)) OpenDriveFolder();
      Dir1->SetPath(candidate);
      return;
    } catch (const std::exception&) {
    }
  }
}

void dlgPath::OpenDriveFolder() {
  Dir1->SetPath(Drive1->DriveFolder());
  txtFolder->setText(Dir1->Path());
}

void dlgPath::Drive1_Change() {
  try {
    OpenDriveFolder();
  } catch (const std::exception& error) {
    // The drive cannot be read (no medium, gone, no rights): back to the folder list's drive.
    const QString label = Drive1->currentText();
    try {
      Drive1->SelectDriveOf(Dir1->Path());
    } catch (const std::exception&) {
    }
    ShowMessage(this, QStringLiteral("無法讀取磁碟機 ") + label + QStringLiteral(", 請確認磁碟機是否就緒.") + kCrLf +
                          DescriptionOf(error));
  }
}

void dlgPath::Dir1_Change() { txtFolder->setText(Dir1->Path()); }

void dlgPath::Dir1_Click() { txtFolder->setText(Dir1->Path()); }

void dlgPath::OKButton_Click() {
  blnCancel = TruthText(false);
  strPath = txtFolder->text();
  accept();
}

void dlgPath::CancelButton_Click() { reject(); }

void dlgPath::keyPressEvent(QKeyEvent* event) {
  // There is no cancel button: Esc does not close the dialog.
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  // There is no default button: Enter presses only a button that has the focus.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && event->modifiers() == Qt::NoModifier) {
      button->click();
    }
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

dlgPath::StepOutcome dlgPath::Trapped(const std::function<void()>& step) {
  for (;;) {
    try {
      step();
      return StepOutcome::Done;
    } catch (const std::exception& error) {
      const QString report =
          ErrorReportText(error, ErrorLocation(QStringLiteral("dlgPath"), QStringLiteral("cmdCreateFolder_Click")));
      switch (Prompts().MessageBox(this, report, MessageButtons::AbortRetryIgnore)) {
        case MessageAnswer::Retry:
          continue;
        case MessageAnswer::Ignore:
          return StepOutcome::Ignored;
        default:
          return StepOutcome::Aborted;
      }
    }
  }
}

void dlgPath::cmdCreateFolder_Click() {
  const QChar separator = QLatin1Char(kPathSeparator);
  QString s = TrimSpaces(txtFolder->text());
  if (!s.contains(separator)) {
    ShowMessage(this, QStringLiteral("請確認目錄路徑是否正確.") + kCrLf + s);
    return;
  }
  // Not trimmed: a name of spaces is a name.
  const QString name =
      Prompts().InputBox(this, QStringLiteral("新增資料夾名稱"), QStringLiteral("新增資料夾"), QString());
  if (name.isEmpty()) return;
  // Joined as typed: below a root that ends in the separator the path holds two in a row, which
  // the file system reads as one.
  s = s + separator + name;
  const std::string folder = ToNative(s);

  FileSystemObject tester;
  if (!tester.FolderExists(folder)) {
    const StepOutcome created = Trapped([&] {
      if (CreateFolderPath(folder)) return;
      const int systemError = LastSystemError();
      // A folder that could not be made is reported, so that the user learns why and can retry.
      if (!tester.FolderExists(folder)) throw FolderCreationError(systemError);
    });
    if (created == StepOutcome::Aborted) return;
  }
  if (!tester.FolderExists(folder)) return;
  if (Trapped([&] { Dir1->SetPath(s); }) == StepOutcome::Aborted) return;
  txtFolder->setText(s);
}
