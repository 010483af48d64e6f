#include "widgets/UserPrompts.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

#ifdef _WIN32
#include <QProcess>
#elif defined(TAVRIN_HAVE_DBUS)
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace {

class DialogPrompts : public UserPrompts {
 public:
  MessageAnswer MessageBox(QWidget* parent, const QString& text, MessageButtons buttons) override {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::NoButton, parent);
    if (buttons == MessageButtons::Ok) {
      box.setStandardButtons(QMessageBox::Ok);
      box.exec();
      return MessageAnswer::Ok;
    }
    box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
    switch (box.exec()) {
      case QMessageBox::Retry:
        return MessageAnswer::Retry;
      case QMessageBox::Ignore:
        return MessageAnswer::Ignore;
      default:
        return MessageAnswer::Abort;
    }
  }

  QString InputBox(QWidget* parent, const QString& prompt, const QString& title, const QString& defaultText) override {
    bool accepted = false;
    const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &accepted);
    return accepted ? text : QString();
  }
};

DialogPrompts g_dialogs;
UserPrompts* g_current = &g_dialogs;

}  // namespace

bool UserPrompts::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

namespace {

// Asks the system's file manager to show the file picked out in its folder; false when there is
// none to ask. The request is not waited for: a file manager that is slow to start never holds
// the window.
bool PointFileManagerAt(const QString& path) {
#ifdef _WIN32
  // Explorer takes the path after "/select," as one argument, quoted when it holds spaces.
  QProcess explorer;
  explorer.setProgram(QStringLiteral("explorer.exe"));
  explorer.setNativeArguments(QStringLiteral("/select,\"%1\"").arg(QDir::toNativeSeparators(path)));
  return explorer.startDetached();
#elif defined(TAVRIN_HAVE_DBUS)
  static const QString kService = QStringLiteral("org.freedesktop.FileManager1");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService).value()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/FileManager1"),
                                                     kService, QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  return bus.send(call);
#else
  (void)path;
  return false;
#endif
}

}  // namespace

bool UserPrompts::ShowInFolder(const QString& path) {
  if (PointFileManagerAt(path)) return true;
  return OpenUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

UserPrompts& Prompts() { return *g_current; }

void SetPrompts(UserPrompts* prompts) { g_current = prompts ? prompts : &g_dialogs; }

void ShowMessage(QWidget* parent, const QString& text) { Prompts().MessageBox(parent, text, MessageButtons::Ok); }
