#include "widgets/UserPrompts.h"

#include <QDesktopServices>
#include <QInputDialog>
#include <QMessageBox>

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

UserPrompts& Prompts() { return *g_current; }

void SetPrompts(UserPrompts* prompts) { g_current = prompts ? prompts : &g_dialogs; }

void ShowMessage(QWidget* parent, const QString& text) { Prompts().MessageBox(parent, text, MessageButtons::Ok); }
