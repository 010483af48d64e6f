#pragma once
// Every message box and input box of the window, and every file it hands to another program, goes
// through here, so that tests can answer them and no viewer starts in a test.
// Message boxes are titled with the application title and show no icon.
#include <QString>

class QUrl;
class QWidget;

inline const QString kApplicationTitle = QStringLiteral("Tavrin");

enum class MessageButtons { Ok, AbortRetryIgnore };
enum class MessageAnswer { Ok, Abort, Retry, Ignore };

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  virtual MessageAnswer MessageBox(QWidget* parent, const QString& text, MessageButtons buttons) = 0;
  // The text typed and confirmed; empty text when the box was cancelled.
  virtual QString InputBox(QWidget* parent, const QString& prompt, const QString& title,
                           const QString& defaultText) = 0;
  // Opens a file or folder with the system's default program; false when none took it.
  virtual bool OpenUrl(const QUrl& url);
  // Shows the folder that holds the file with the file picked out, where the system can (a file
  // manager on the session bus that offers org.freedesktop.FileManager1, Explorer on Windows);
  // otherwise opens the folder through OpenUrl. False when neither worked.
  virtual bool ShowInFolder(const QString& path);
};

// The prompts in use: the platform's dialogs unless a test installed its own.
UserPrompts& Prompts();
// Installs prompts (not owned); null restores the platform's dialogs.
void SetPrompts(UserPrompts* prompts);

// Shorthand for the message box with the OK button only.
void ShowMessage(QWidget* parent, const QString& text);
