#include "main/ThumbnailActions.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>

#include "widgets/UserPrompts.h"

ThumbnailActions::ThumbnailActions(QListView* view, FolderListingModel* files)
    : QObject(view), view_(view), files_(files) {
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QListView::activated, this, &ThumbnailActions::Activated);
  connect(view_, &QListView::customContextMenuRequested, this, &ThumbnailActions::MenuRequested);
  // Ahead of the view's own keys: its Ctrl+C would copy the current item's name only.
  view_->installEventFilter(this);
}

bool ThumbnailActions::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)) {
    return QObject::eventFilter(watched, event);
  }
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  const bool copy = key->matches(QKeySequence::Copy);
  const bool trash = key->key() == Qt::Key_Delete && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier);
  if (!copy && !trash) return QObject::eventFilter(watched, event);
  // Claimed from the window's shortcuts first, then acted on when the key arrives.
  event->accept();
  if (event->type() == QEvent::KeyPress) {
    if (copy) {
      CopySelectedFiles();
    } else {
      TrashSelected();
    }
  }
  return event->type() == QEvent::KeyPress;
}

QStringList ThumbnailActions::SelectedPaths() const {
  QModelIndexList selected = view_->selectionModel()->selectedIndexes();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList paths;
  for (const QModelIndex& index : selected) {
    if (index.row() < files_->rowCount()) paths.append(files_->PathAt(index.row()));
  }
  return paths;
}

std::unique_ptr<QMenu> ThumbnailActions::ContextMenu() {
  auto menu = std::make_unique<QMenu>(view_);
  const qsizetype count = SelectedPaths().size();
  auto add = [&](const QString& caption, void (ThumbnailActions::*handler)(), bool enabled) {
    QAction* action = menu->addAction(caption, this, handler);
    action->setObjectName(caption);
    action->setEnabled(enabled);
  };
  add(QStringLiteral("開啟"), &ThumbnailActions::OpenSelected, count == 1);
  add(QStringLiteral("開啟所在資料夾"), &ThumbnailActions::RevealSelected, count == 1);
  menu->addSeparator();
  add(QStringLiteral("複製路徑"), &ThumbnailActions::CopySelectedPaths, count > 0);
  add(QStringLiteral("移到資源回收筒"), &ThumbnailActions::TrashSelected, count > 0);
  // Shown beside the caption, as menus show the key that does the same.
  menu->actions().back()->setShortcut(QKeySequence::Delete);
  return menu;
}

std::unique_ptr<QMenu> ThumbnailActions::EmptySpaceMenu() {
  auto menu = std::make_unique<QMenu>(view_);
  QAction* action = menu->addAction(QStringLiteral("開啟資料夾"), this, &ThumbnailActions::OpenShownFolder);
  action->setObjectName(action->text());
  action->setEnabled(!files_->Folder().isEmpty());
  return menu;
}

void ThumbnailActions::Activated(const QModelIndex& index) {
  if (index.isValid() && index.row() < files_->rowCount()) Open(files_->PathAt(index.row()));
}

void ThumbnailActions::MenuRequested(const QPoint& at) {
  // A right-click on an item that is not selected selects it alone, as file managers do; one on
  // empty space is about the folder.
  const QModelIndex index = view_->indexAt(at);
  if (index.isValid() && !view_->selectionModel()->isSelected(index)) {
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  }
  const std::unique_ptr<QMenu> menu = index.isValid() ? ContextMenu() : EmptySpaceMenu();
  menu->exec(view_->viewport()->mapToGlobal(at));
}

void ThumbnailActions::Open(const QString& path) {
  if (QFileInfo(path).isDir()) {
    emit FolderOpened(path);
    return;
  }
  if (!Prompts().OpenUrl(QUrl::fromLocalFile(path))) Report(QStringLiteral("無法開啟這個檔案："), {path});
}

void ThumbnailActions::OpenSelected() {
  const QStringList paths = SelectedPaths();
  if (paths.size() == 1) Open(paths.front());
}

void ThumbnailActions::RevealSelected() {
  const QStringList paths = SelectedPaths();
  if (paths.size() != 1) return;
  if (!Prompts().ShowInFolder(paths.front())) {
    Report(QStringLiteral("無法開啟這個資料夾："), {QFileInfo(paths.front()).absolutePath()});
  }
}

void ThumbnailActions::OpenShownFolder() {
  const QString folder = files_->Folder();
  if (folder.isEmpty()) return;
  if (!Prompts().OpenUrl(QUrl::fromLocalFile(folder))) Report(QStringLiteral("無法開啟這個資料夾："), {folder});
}

void ThumbnailActions::CopySelectedFiles() {
  const QStringList paths = SelectedPaths();
  if (!paths.isEmpty()) QGuiApplication::clipboard()->setMimeData(FilesMimeData(paths));
}

void ThumbnailActions::CopySelectedPaths() {
  QStringList paths = SelectedPaths();
  if (paths.isEmpty()) return;
  for (QString& path : paths) path = QDir::toNativeSeparators(path);
  QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
}

void ThumbnailActions::TrashSelected() {
#if !defined(_WIN32) && !defined(__APPLE__)
  // The home trash lies in the user's data folder; Qt 6.4 moves a file into "files/" of the
  // current folder when it cannot make the trash there, so the data folder is made first.
  QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
#endif
  QStringList failed;
  for (const QString& path : SelectedPaths()) {
    if (QFile::moveToTrash(path)) {
      files_->RemoveFile(path);
    } else {
      failed.append(path);
    }
  }
  if (!failed.isEmpty()) Report(QStringLiteral("無法移到資源回收筒："), failed);
}

void ThumbnailActions::Report(const QString& what, const QStringList& paths) {
  QStringList shown;
  for (const QString& path : paths) shown.append(QDir::toNativeSeparators(path));
  ShowMessage(view_->window(), what + QStringLiteral("\r\n") + shown.join(QStringLiteral("\r\n")));
}
