#pragma once
// What the thumbnails do, as in a file manager's folder view: a double-click or Enter opens a file
// with the system's default program (a folder is shown in the pane instead), and the context menu
// offers 開啟 (open), 開啟所在資料夾 (show it in its folder), 複製路徑 (copy the path) and
// 移到資源回收筒 (move to the recycle bin). The last two act on every selected item, and so do
// Delete and Shift+Delete (to the recycle bin) and Ctrl+C (the files, for a file manager to
// paste). A right-click on empty space offers 開啟資料夾 (open the folder shown). Files are
// handed to other programs through the prompts seam, so tests start no viewer.
#include <QListView>
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <memory>

#include "main/FolderListingModel.h"

class ThumbnailActions : public QObject {
  Q_OBJECT
 public:
  ThumbnailActions(QListView* view, FolderListingModel* files);

  // The selected items' paths, in the view's order.
  QStringList SelectedPaths() const;
  // The context menu for the selection as it stands; its actions are named after their captions.
  std::unique_ptr<QMenu> ContextMenu();
  // The menu of a right-click on empty space, named the same way.
  std::unique_ptr<QMenu> EmptySpaceMenu();

  void Open(const QString& path);
  void OpenSelected();
  void RevealSelected();
  void CopySelectedPaths();
  // Puts the selected files on the clipboard as files (FilesMimeData).
  void CopySelectedFiles();
  void TrashSelected();
  // Opens the folder shown with the system's file manager.
  void OpenShownFolder();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // A folder was opened: the pane shows it.
  void FolderOpened(const QString& path);

 private:
  void Activated(const QModelIndex& index);
  void MenuRequested(const QPoint& at);
  void Report(const QString& what, const QStringList& paths);

  QListView* view_;
  FolderListingModel* files_;
};
