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
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "dialogs/DriveListBox.h"
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

// The volume that holds the temporary folders: "/" or the system drive, as the drive list names it.
inline Volume RootVolume() {
#ifdef _WIN32
  const QString root = QString::fromStdWString(std::filesystem::temp_directory_path().root_path().wstring());
  return {root, root.left(2).toLower()};
#else
  return {QStringLiteral("/"), QStringLiteral("/")};
#endif
}

// A drive that stands for a folder for the test's lifetime: on Windows a free drive letter mapped
// onto the folder, as "subst" maps one; elsewhere the folder itself, as a mount point. Wine keeps
// such a mapping but does not open paths through it; there the test takes another ready drive
// than the temporary folders' (Wine always has Z:), which has the same part to play.
class TestDrive {
 public:
  TestDrive(const std::string& folder, const QString& label) {
#ifdef _WIN32
    target_ = std::filesystem::path(folder).make_preferred().wstring();
    const DWORD used = GetLogicalDrives();
    for (wchar_t letter = L'Y'; letter >= L'D' && device_.empty(); --letter) {
      const std::wstring device{letter, L':'};
      if (!(used & (1u << (letter - L'A'))) && DefineDosDeviceW(0, device.c_str(), target_.c_str())) device_ = device;
    }
    if (!device_.empty() && GetFileAttributesW((device_ + L"\\").c_str()) == INVALID_FILE_ATTRIBUTES) {
      RemoveMapping();
      for (const Volume& drive : SystemVolumes()) {
        if (drive.root != RootVolume().root &&
            GetFileAttributesW(drive.root.toStdWString().c_str()) != INVALID_FILE_ATTRIBUTES) {
          volume = {drive.root, label};
        }
      }
    } else if (!device_.empty()) {
      volume = {QString::fromStdWString(device_) + QLatin1Char('\\'), label};
    }
    if (volume.root.isEmpty()) throw std::runtime_error("no drive letter to stand for " + folder);
#else
    volume = {QString::fromStdString(folder), label};
#endif
  }
  ~TestDrive() { RemoveMapping(); }
  TestDrive(const TestDrive&) = delete;
  TestDrive& operator=(const TestDrive&) = delete;

  Volume volume;

 private:
  void RemoveMapping() {
#ifdef _WIN32
    if (!device_.empty()) {
      DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device_.c_str(), target_.c_str());
    }
    device_.clear();
#endif
  }
#ifdef _WIN32
  std::wstring device_, target_;
#endif
};

// A drive that is listed but cannot be read, like an ejected card: on Windows a drive letter the
// system does not have, elsewhere a mount point that is gone (folder must not exist).
inline Volume MissingDrive(const std::string& folder, const QString& label) {
#ifdef _WIN32
  Q_UNUSED(folder);
  const DWORD used = GetLogicalDrives();
  for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
    if (!(used & (1u << (letter - L'A')))) return {QString(QChar(letter)) + QStringLiteral(":\\"), label};
  }
  throw std::runtime_error("every drive letter is taken");
#else
  return {QString::fromStdString(folder), label};
#endif
}

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
