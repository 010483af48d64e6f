#pragma once
// What the dialog tests share: prompts answered from a script, a current folder of the test's own,
// the dialog's controls by name, and a driver for the dialog while it runs modally.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <ostream>

#include "dialogs/dlgPath.h"
#include "support/TempDir.h"
#include "widgets/TruthText.h"
#include "widgets/UserPrompts.h"

// Records every message and input box; answers message boxes from a queue (Ok, or Abort for
// the error report, when the queue is empty) and input boxes from another (empty text when empty).
class ScriptedPrompts : public UserPrompts {
 public:
  struct Message {
    QString text;
    MessageButtons buttons;
  };
  struct Input {
    QString prompt, title, defaultText;
  };

  ScriptedPrompts() { SetPrompts(this); }
  ~ScriptedPrompts() override { SetPrompts(nullptr); }

  MessageAnswer MessageBox(QWidget*, const QString& text, MessageButtons buttons) override {
    messages.push_back({text, buttons});
    if (beforeAnswer) beforeAnswer(messages.size());
    if (answers.empty()) return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Abort;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  QString InputBox(QWidget*, const QString& prompt, const QString& title, const QString& defaultText) override {
    inputs.push_back({prompt, title, defaultText});
    if (names.empty()) return {};
    const QString name = names.front();
    names.pop_front();
    return name;
  }

  std::deque<MessageAnswer> answers;
  std::deque<QString> names;
  // Runs before a message box is answered, with the number of boxes shown so far.
  std::function<void(std::size_t)> beforeAnswer;
  std::vector<Message> messages;
  std::vector<Input> inputs;
};

// Makes folder the process's current folder for the test's lifetime.
class CurrentFolder {
 public:
  explicit CurrentFolder(const QString& folder) : previous_(QDir::currentPath()) { QDir::setCurrent(folder); }
  ~CurrentFolder() { QDir::setCurrent(previous_); }

 private:
  QString previous_;
};

inline QString Q(const std::string& path) { return QString::fromStdString(path); }
inline bool IsFolder(const QString& path) { return std::filesystem::is_directory(path.toStdString()); }

template <typename T>
T* Child(QWidget& window, const char* name) {
  T* control = window.findChild<T*>(QLatin1String(name));
  if (!control) throw std::runtime_error(std::string("no control ") + name);
  return control;
}

inline QString FolderText(dlgPath& dialog) { return Child<QLineEdit>(dialog, "txtFolder")->text(); }
inline QString OpenFolder(dlgPath& dialog) { return Child<FolderListBox>(dialog, "Dir1")->Path(); }
inline DriveListBox* Drives(dlgPath& dialog) { return Child<DriveListBox>(dialog, "Drive1"); }

// A dialog with strPath set, loaded as showing it loads it (shown, not modal).
inline std::unique_ptr<dlgPath> LoadedDialog(const QString& strPath, const QString& programFolder) {
  auto dialog = std::make_unique<dlgPath>(nullptr, programFolder);
  dialog->strPath = strPath;
  dialog->show();
  return dialog;
}

// Runs action on the folder chooser once it is shown modally, from inside its event loop. When
// none shows within five seconds, every modal window is closed so the test ends (and fails).
inline void WhenDialogShows(std::function<void(dlgPath&)> action, bool* shown = nullptr) {
  auto* timer = new QTimer;
  auto waited = std::make_shared<int>(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, action, waited, shown] {
    auto* dialog = qobject_cast<dlgPath*>(QApplication::activeModalWidget());
    if (dialog && dialog->isVisible()) {
      timer->stop();
      timer->deleteLater();
      if (shown) *shown = true;
      action(*dialog);
      return;
    }
    if (++*waited > 500) {
      timer->stop();
      timer->deleteLater();
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    }
  });
  timer->start();
}

// Readable failure messages for texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE
