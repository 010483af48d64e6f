#include "main/WebBrowserPane.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "main/HomePage.h"
#include "main/ThumbnailDelegate.h"

namespace {
// An item's room beside and below its picture: a margin, and two lines of its name.
QSize GridSize(int edge, const QFontMetrics& metrics) { return {edge + 24, edge + 4 + 2 * metrics.lineSpacing()}; }
}  // namespace

WebBrowserPane::WebBrowserPane(QWidget* parent)
    : QStackedWidget(parent),
      pageView_(new QTextBrowser(this)),
      folderView_(new QListView(this)),
      thumbnails_(new ThumbnailModel(this)),
      actions_(new ThumbnailActions(folderView_, thumbnails_->Files())),
      missingNote_(new QLabel(folderView_->viewport())) {
  pageView_->setObjectName(QStringLiteral("WebBrowser1Page"));
  pageView_->setOpenLinks(false);
  pageView_->setOpenExternalLinks(false);
  connect(pageView_, &QTextBrowser::anchorClicked, this, &WebBrowserPane::LinkActivated);

  folderView_->setObjectName(QStringLiteral("WebBrowser1Folder"));
  folderView_->setViewMode(QListView::IconMode);
  folderView_->setIconSize(QSize(kDefaultEdge, kDefaultEdge));
  // A row (a picture and two lines of its name) fits the pane at the window's design size, so the
  // view need not scroll to show one.
  folderView_->setGridSize(GridSize(kDefaultEdge, fontMetrics()));
  folderView_->setResizeMode(QListView::Adjust);
  folderView_->setMovement(QListView::Static);
  folderView_->setWrapping(true);
  // Items are dragged out to other programs as files, never dropped onto or moved in the view
  // (after setMovement, which sets both).
  folderView_->setDragDropMode(QAbstractItemView::DragOnly);
  folderView_->setDefaultDropAction(Qt::CopyAction);
  folderView_->setItemDelegate(new ThumbnailDelegate(kDefaultEdge, kDefaultEdge + 20, folderView_));
  // One size for every item: the view then never asks items it does not show for their icon, so
  // only what is in view gets decoded.
  folderView_->setUniformItemSizes(true);
  folderView_->setLayoutMode(QListView::Batched);
  folderView_->setBatchSize(200);
  folderView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  folderView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  thumbnails_->SetThumbnailEdge(kDefaultEdge);
  thumbnails_->SetVisibilityTest([this](const QModelIndex& index) { return ItemIsVisible(index); });
  folderView_->setModel(thumbnails_);
  connect(actions_, &ThumbnailActions::FolderOpened, this, [this](const QString& path) { Navigate2(path); });

  // Until the user scrolls, clicks or types in it, a folder is shown from its first item, also
  // once the listing has arrived (the focus would otherwise pick an item and scroll to it).
  folderView_->installEventFilter(this);
  folderView_->viewport()->installEventFilter(this);
  // Dragging or clicking the scroll bar is the user's move too (programmatic scrolling is not).
  connect(folderView_->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { UserMovedInFolder(); });
  connect(thumbnails_->Files(), &FolderListingModel::Loaded, this, &WebBrowserPane::ShowFolderFromTop);
  // A folder removed while shown says so rather than leaving a blank pane.
  missingNote_->setObjectName(QStringLiteral("WebBrowser1MissingFolder"));
  missingNote_->setAlignment(Qt::AlignCenter);
  missingNote_->setWordWrap(true);
  missingNote_->hide();
  connect(thumbnails_->Files(), &FolderListingModel::FolderMissingChanged, this, &WebBrowserPane::ShowMissingNote);
  arrivalScroll_.setSingleShot(true);
  arrivalScroll_.setInterval(0);
  connect(&arrivalScroll_, &QTimer::timeout, this, &WebBrowserPane::ScrollToArrival);
  // Rows that come or go above the pictures in view would move them: the view is scrolled back to
  // the first of them once it is laid out again.
  anchorRestore_.setSingleShot(true);
  anchorRestore_.setInterval(0);
  connect(&anchorRestore_, &QTimer::timeout, this, &WebBrowserPane::RestoreViewAnchor);
  connect(thumbnails_, &QAbstractItemModel::rowsAboutToBeInserted, this, &WebBrowserPane::KeepViewAnchored);
  connect(thumbnails_, &QAbstractItemModel::rowsAboutToBeRemoved, this, &WebBrowserPane::KeepViewAnchored);
  connect(thumbnails_, &QAbstractItemModel::rowsInserted, this, [this] { anchorRestore_.start(); });
  connect(thumbnails_, &QAbstractItemModel::rowsRemoved, this, [this] { anchorRestore_.start(); });
  connect(folderView_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
    if (anchor_.isValid()) anchorRestore_.start();
  });

  addWidget(pageView_);
  addWidget(folderView_);
  setCurrentWidget(pageView_);
}

void WebBrowserPane::Navigate2(const QString& address) {
  location_ = address;
  const QFileInfo info(address);
  if (address != kHomePageAddress && info.isDir()) {
    ShowFolder(info.absoluteFilePath());
  } else {
    ShowPage(address);
  }
}

void WebBrowserPane::ShowFolder(const QString& folder) {
  userMovedInFolder_ = false;
  lastUserMove_.invalidate();
  arrival_ = QPersistentModelIndex();
  anchor_ = QPersistentModelIndex();
  folderView_->setRootIndex(thumbnails_->SetFolder(folder));
  setCurrentWidget(folderView_);
  ShowFolderFromTop();
}

void WebBrowserPane::ShowMissingNote() {
  FolderListingModel* files = thumbnails_->Files();
  if (!files->FolderMissing()) {
    missingNote_->hide();
    return;
  }
  missingNote_->setText(QStringLiteral("這個資料夾已不存在：\n%1").arg(QDir::toNativeSeparators(files->Folder())));
  missingNote_->setGeometry(folderView_->viewport()->rect());
  missingNote_->show();
}

void WebBrowserPane::SetThumbnailEdge(int edge) {
  edge = std::clamp(edge, kSmallestEdge, kLargestEdge);
  if (edge == ThumbnailEdge()) return;
  // The first picture in view is kept at the top of the view once the items are laid out anew.
  anchor_ = QPersistentModelIndex();
  KeepViewAnchored();
  anchorTop_ = std::max(0, anchorTop_);
  folderView_->setIconSize(QSize(edge, edge));
  folderView_->setGridSize(GridSize(edge, fontMetrics()));
  static_cast<ThumbnailDelegate*>(folderView_->itemDelegate())->SetSize(edge, edge + 20);
  thumbnails_->SetThumbnailEdge(edge);
  if (anchor_.isValid()) anchorRestore_.start();
}

void WebBrowserPane::FileArrived(const QString& path) {
  FolderListingModel* files = thumbnails_->Files();
  files->AddFile(path);
  if (!ShowsFolder() || (lastUserMove_.isValid() && lastUserMove_.elapsed() < followPauseMs_)) return;
  const int row = files->RowOf(path);
  if (row < 0) return;
  arrival_ = thumbnails_->index(row, 0, folderView_->rootIndex());
  ScrollToArrival();
}

void WebBrowserPane::KeepViewAnchored() {
  if (!ShowsFolder() || anchor_.isValid() || thumbnails_->rowCount(folderView_->rootIndex()) == 0) return;
  // The first item of the top row in view: the middle of the first grid cell, or of the one below
  // it when the top row is mostly scrolled out.
  const QRect area = folderView_->viewport()->rect();
  const QSize grid = folderView_->gridSize();
  for (int y = grid.height() / 2; y < area.height() && y <= 2 * grid.height(); y += std::max(1, grid.height() / 2)) {
    const QModelIndex index = folderView_->indexAt(QPoint(grid.width() / 2, y));
    if (!index.isValid()) continue;
    anchor_ = index;
    anchorTop_ = folderView_->visualRect(index).top();
    return;
  }
}

void WebBrowserPane::RestoreViewAnchor() {
  if (!anchor_.isValid() || !ShowsFolder()) {
    anchor_ = QPersistentModelIndex();
    return;
  }
  // An arrival being scrolled to moves the view anyway.
  if (arrival_.isValid()) {
    anchor_ = QPersistentModelIndex();
    return;
  }
  const QRect rect = folderView_->visualRect(anchor_);
  // A large folder is laid out in batches: wait for the batch that places the anchor (a hidden
  // view is laid out when shown, and the range change then brings the view back here).
  if (rect.isEmpty()) {
    if (folderView_->isVisible()) anchorRestore_.start();
    return;
  }
  // The anchor stays until the user moves: later rows may come between it and the row before it.
  // The scroll range grows only when the whole folder is laid out: until then the view goes as far
  // as it can, and again each time the range changes.
  QScrollBar* bar = folderView_->verticalScrollBar();
  bar->setValue(bar->value() + rect.top() - anchorTop_);
}

void WebBrowserPane::ScrollToArrival() {
  if (!arrival_.isValid() || !ShowsFolder()) return;
  // The view lays out a large folder in batches; an item not placed yet has no rectangle, so the
  // scroll waits for the batch that places it.
  if (folderView_->visualRect(arrival_).isEmpty()) {
    arrivalScroll_.start();
    return;
  }
  folderView_->scrollTo(arrival_);
  arrival_ = QPersistentModelIndex();
  anchor_ = QPersistentModelIndex();
}

void WebBrowserPane::UserMovedInFolder() {
  userMovedInFolder_ = true;
  arrival_ = QPersistentModelIndex();
  anchor_ = QPersistentModelIndex();
  lastUserMove_.start();
}

void WebBrowserPane::ShowFolderFromTop() {
  if (!ShowsFolder() || userMovedInFolder_) return;
  const QModelIndex first = thumbnails_->index(0, 0, folderView_->rootIndex());
  if (first.isValid()) folderView_->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
  folderView_->scrollToTop();
}

bool WebBrowserPane::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      UserMovedInFolder();
      const auto* key = static_cast<QKeyEvent*>(event);
      const bool control = key->modifiers() & Qt::ControlModifier;
      // Ctrl+= too: the plus sign needs Shift on many keyboards.
      if (key->matches(QKeySequence::ZoomIn) ||
          (control && (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal))) {
        SetThumbnailEdge(ThumbnailEdge() + kEdgeStep);
        return true;
      }
      if (key->matches(QKeySequence::ZoomOut) || (control && key->key() == Qt::Key_Minus)) {
        SetThumbnailEdge(ThumbnailEdge() - kEdgeStep);
        return true;
      }
      break;
    }
    case QEvent::MouseButtonPress:
      UserMovedInFolder();
      break;
    case QEvent::Wheel: {
      UserMovedInFolder();
      const auto* wheel = static_cast<QWheelEvent*>(event);
      if (!(wheel->modifiers() & Qt::ControlModifier)) break;
      // One step per notch of a wheel; a touchpad's small deltas add up to one.
      zoomWheel_ += wheel->angleDelta().y();
      const int steps = zoomWheel_ / QWheelEvent::DefaultDeltasPerStep;
      zoomWheel_ -= steps * QWheelEvent::DefaultDeltasPerStep;
      if (steps != 0) SetThumbnailEdge(ThumbnailEdge() + steps * kEdgeStep);
      return true;
    }
    case QEvent::Resize:
      if (watched == folderView_->viewport()) missingNote_->setGeometry(folderView_->viewport()->rect());
      break;
    default:
      break;
  }
  return QStackedWidget::eventFilter(watched, event);
}

void WebBrowserPane::ShowPage(const QString& address) {
  setCurrentWidget(pageView_);
  if (address == kHomePageAddress) {
    pageView_->setHtml(homePage_ ? homePage_() : QString());
    return;
  }
  const QUrl url = QUrl::fromUserInput(address, QDir::currentPath(), QUrl::AssumeLocalFile);
  if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) {
    pageView_->setSource(url);
    return;
  }
  // Nothing is fetched from the network: the pane says so instead of showing a dialog.
  pageView_->setHtml(
      QStringLiteral("<html><body><p>無法顯示這個網址：%1</p></body></html>").arg(address.toHtmlEscaped()));
}

void WebBrowserPane::LinkActivated(const QUrl& url) {
  if (url.isLocalFile() || url.isRelative()) {
    Navigate2(url.isLocalFile() ? url.toLocalFile() : pageView_->source().resolved(url).toLocalFile());
    return;
  }
  bool cancel = false;
  emit NewWindow2(&cancel);
  if (!cancel) Navigate2(url.toString());
}

void WebBrowserPane::SetFocus() {
  if (QWidget* shown = currentWidget()) shown->setFocus(Qt::OtherFocusReason);
}

bool WebBrowserPane::ItemIsVisible(const QModelIndex& index) const {
  return ShowsFolder() && folderView_->viewport()->rect().intersects(folderView_->visualRect(index));
}
