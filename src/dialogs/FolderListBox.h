#pragma once
// The folder list: the open folder's ancestors from the root down, the open folder, then its
// subfolders, each one step further in. A double click (or Enter) opens the highlighted entry; a
// single click only highlights it. Hidden folders are left out, as the platform's file dialogs
// leave them out (dot names on POSIX, the hidden attribute on Windows).
#include <QString>
#include <QTreeWidget>

class FolderListBox : public QTreeWidget {
  Q_OBJECT
 public:
  explicit FolderListBox(QWidget* parent = nullptr);

  // The open folder in the list's form: absolute, cleaned, in the platform's separators.
  QString Path() const { return path_; }

  // Opens folder (relative paths are taken from the current folder) and lists it afresh. Emits
  // Change when the open folder is another than before. Raises NumberedError when folder is blank,
  // is not a folder, or cannot be listed; the list is then left as it was.
  void SetPath(const QString& folder);

  // The list's form of a path.
  static QString FormOf(const QString& path);

  // The folder that an entry stands for.
  static QString FolderOf(const QTreeWidgetItem* item);

 signals:
  // The open folder changed.
  void Change();
  // An entry was clicked once.
  void Click();
  // Opening the entry for folder failed (it vanished or cannot be read); the list stays on its
  // open folder, listed afresh.
  void OpenFailed(const QString& folder, const QString& reason);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // Entries cannot be folded, so no branch arrows are drawn.
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}

 private:
  void Open(QTreeWidgetItem* item);
  void Fill(const QString& path, const QStringList& subfolders);

  QString path_;
};
