#include "dialogs/FolderListBox.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include "base/NumberedError.h"
#include "widgets/NativeText.h"

namespace {

constexpr int kFolderRole = Qt::UserRole;

// The folders from the root down to path, each with the text that the list shows for it.
struct Step {
  QString folder, text;
};

QList<Step> AncestorsAndSelf(const QString& path) {
  // Worked out on the text, so that an ancestor that cannot be read is still shown.
  QList<Step> steps;
  QString folder = QDir::fromNativeSeparators(path);
  for (;;) {
    const QString parent = QFileInfo(folder).path();
    if (parent == folder || QDir(folder).isRoot()) {
      steps.prepend({QDir::toNativeSeparators(folder), QDir::toNativeSeparators(folder)});
      break;
    }
    steps.prepend({QDir::toNativeSeparators(folder), QFileInfo(folder).fileName()});
    folder = parent;
  }
  return steps;
}

}  // namespace

FolderListBox::FolderListBox(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setIndentation(12);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { Open(item); });
  connect(this, &QTreeWidget::itemClicked, this, [this] { emit Click(); });
}

QString FolderListBox::FormOf(const QString& path) {
  return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

QString FolderListBox::FolderOf(const QTreeWidgetItem* item) { return item->data(0, kFolderRole).toString(); }

void FolderListBox::SetPath(const QString& folder) {
  if (folder.trimmed().isEmpty()) throw NumberedError(NumberedError::kPathNotFound, "Path not found");
  const QString form = FormOf(folder);
  const QFileInfo info(form);
  if (!info.isDir()) throw NumberedError(NumberedError::kPathNotFound, "Path not found");
  QDir dir(form);
  if (!dir.isReadable()) throw NumberedError(NumberedError::kPermissionDenied, "Permission denied");

  // Hidden folders are left out by not asking for them.
  QStringList subfolders;
  for (const QFileInfo& entry :
       dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware)) {
    subfolders << entry.fileName();
  }
  const bool changed = form != path_;
  path_ = form;
  Fill(form, subfolders);
  if (changed) emit Change();
}

void FolderListBox::Fill(const QString& path, const QStringList& subfolders) {
  const QSignalBlocker quiet(this);
  clear();
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

  QTreeWidgetItem* parent = nullptr;
  for (const Step& step : AncestorsAndSelf(path)) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, step.text);
    item->setIcon(0, openIcon);
    item->setData(0, kFolderRole, step.folder);
    parent = item;
  }
  QDir dir(path);
  for (const QString& name : subfolders) {
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, name);
    item->setIcon(0, closedIcon);
    item->setData(0, kFolderRole, QDir::toNativeSeparators(dir.absoluteFilePath(name)));
  }
  expandAll();
  // The open folder is highlighted and scrolled into view.
  setCurrentItem(parent);
  scrollToItem(parent);
}

void FolderListBox::Open(QTreeWidgetItem* item) {
  if (!item) return;
  const QString folder = FolderOf(item);
  try {
    SetPath(folder);
  } catch (const NumberedError& error) {
    const QString reason = FromNative(error.what());
    // The open folder may have gone too; the list then shows what it can.
    try {
      SetPath(path_);
    } catch (const NumberedError&) {
    }
    emit OpenFailed(folder, reason);
  }
}

void FolderListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Open(currentItem());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}
