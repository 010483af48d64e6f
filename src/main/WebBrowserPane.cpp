#include "main/WebBrowserPane.h"

#include <QDir>
#include <QFileInfo>

#include "main/HomePage.h"

namespace {
constexpr int kThumbnailEdge = 96;
}  // namespace

WebBrowserPane::WebBrowserPane(QWidget* parent)
    : QStackedWidget(parent),
      pageView_(new QTextBrowser(this)),
      folderView_(new QListView(this)),
      thumbnails_(new ThumbnailModel(this)) {
  pageView_->setObjectName(QStringLiteral("WebBrowser1Page"));
  pageView_->setOpenLinks(false);
  pageView_->setOpenExternalLinks(false);
  connect(pageView_, &QTextBrowser::anchorClicked, this, &WebBrowserPane::LinkActivated);

  folderView_->setObjectName(QStringLiteral("WebBrowser1Folder"));
  folderView_->setViewMode(QListView::IconMode);
  folderView_->setIconSize(QSize(kThumbnailEdge, kThumbnailEdge));
  folderView_->setGridSize(QSize(kThumbnailEdge + 28, kThumbnailEdge + 36));
  folderView_->setResizeMode(QListView::Adjust);
  folderView_->setMovement(QListView::Static);
  folderView_->setWrapping(true);
  folderView_->setWordWrap(true);
  folderView_->setTextElideMode(Qt::ElideMiddle);
  // One size for every item: the view then never asks items it does not show for their icon, so
  // only what is in view gets decoded.
  folderView_->setUniformItemSizes(true);
  folderView_->setLayoutMode(QListView::Batched);
  folderView_->setBatchSize(200);
  folderView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  folderView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  thumbnails_->SetThumbnailEdge(kThumbnailEdge);
  thumbnails_->SetVisibilityTest([this](const QModelIndex& index) { return ItemIsVisible(index); });
  folderView_->setModel(thumbnails_);
  connect(folderView_, &QListView::activated, this, [this](const QModelIndex& index) {
    const QModelIndex source = thumbnails_->mapToSource(index);
    if (thumbnails_->Files()->isDir(source)) Navigate2(thumbnails_->Files()->filePath(source));
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
  folderView_->setRootIndex(thumbnails_->SetFolder(folder));
  setCurrentWidget(folderView_);
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
  pageView_->setHtml(QStringLiteral("<html><body><p>無法顯示這個網址：%1</p></body></html>")
                         .arg(address.toHtmlEscaped()));
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
