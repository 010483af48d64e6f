#include "main/ThumbnailModel.h"

#include <QApplication>
#include <QDateTime>
#include <QFutureWatcher>
#include <QImageReader>
#include <QtConcurrent/QtConcurrentRun>

namespace {
// Thumbnails kept in memory, in kilobytes: about 1800 thumbnails of 96 x 96 pixels.
constexpr int kThumbnailCacheKb = 64 * 1024;
}  // namespace

QImage DecodeThumbnail(const QString& path, int edge) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  // Readers that can scale while decoding (JPEG) then never hold the full picture.
  if (size.isValid() && (size.width() > edge || size.height() > edge)) {
    reader.setScaledSize(size.scaled(edge, edge, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  }
  QImage image = reader.read();
  if (!image.isNull() && (image.width() > edge || image.height() > edge)) {
    image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

ThumbnailModel::ThumbnailModel(QObject* parent)
    : QIdentityProxyModel(parent), files_(new QFileSystemModel(this)), pool_(new QThreadPool(this)) {
  files_->setReadOnly(true);
  // Hidden entries stay out: the harvest writes each copy under a hidden temporary name and only
  // then gives it its name, so no half-written picture is ever listed.
  files_->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
  setSourceModel(files_);
  pool_->setMaxThreadCount(qBound(1, QThread::idealThreadCount() - 1, 2));
  thumbnails_.setMaxCost(kThumbnailCacheKb);
}

ThumbnailModel::~ThumbnailModel() {
  // Decodes still running deliver to watchers that go with this object; wait for them first.
  queue_.clear();
  pool_->waitForDone();
}

QModelIndex ThumbnailModel::SetFolder(const QString& folder) {
  ++generation_;
  queue_.clear();
  queued_.clear();
  return mapFromSource(files_->setRootPath(folder));
}

QString ThumbnailModel::KeyOf(const QModelIndex& sourceIndex) const {
  const QFileInfo info = files_->fileInfo(sourceIndex);
  return info.absoluteFilePath() + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|') +
         QString::number(info.lastModified().toMSecsSinceEpoch());
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DecorationRole || index.column() != 0) return QIdentityProxyModel::data(index, role);
  const QModelIndex source = mapToSource(index);
  if (files_->isDir(source)) return PlainIcon(index, QStyle::SP_DirIcon);
  const QString key = KeyOf(source);
  if (const QPixmap* thumbnail = thumbnails_.object(key)) return *thumbnail;
  if (!undecodable_.contains(key)) Enqueue(files_->filePath(source), key);
  return PlainIcon(index, QStyle::SP_FileIcon);
}

QVariant ThumbnailModel::PlainIcon(const QModelIndex& index, QStyle::StandardPixmap fallback) const {
  // Without an icon theme (a bare desktop) the file system model has no icons; the style's stand in.
  const QVariant icon = QIdentityProxyModel::data(index, Qt::DecorationRole);
  if (icon.canConvert<QIcon>() && !icon.value<QIcon>().isNull()) return icon;
  return QApplication::style()->standardIcon(fallback);
}

bool ThumbnailModel::HasThumbnail(const QString& path) const {
  const QModelIndex source = files_->index(path);
  return source.isValid() && thumbnails_.contains(KeyOf(source));
}

void ThumbnailModel::Enqueue(const QString& path, const QString& key) const {
  if (queued_.contains(key)) return;
  queued_.insert(key);
  queue_.append({path, key});
  // data() runs inside painting; the decodes start once the paint is over.
  QMetaObject::invokeMethod(const_cast<ThumbnailModel*>(this), [this] { StartDecodes(); }, Qt::QueuedConnection);
}

void ThumbnailModel::StartDecodes() const {
  auto* self = const_cast<ThumbnailModel*>(this);
  while (running_ < pool_->maxThreadCount() && !queue_.isEmpty()) {
    // The newest request first: it comes from what was painted last, which is what is in view.
    const Request request = queue_.takeLast();
    const QModelIndex index = mapFromSource(files_->index(request.path));
    if (!index.isValid() || (isVisible_ && !isVisible_(index))) {
      queued_.remove(request.key);
      continue;
    }
    ++running_;
    auto* watcher = new QFutureWatcher<QImage>(self);
    const quint64 generation = generation_;
    QObject::connect(watcher, &QFutureWatcher<QImage>::finished, self, [self, watcher, request, generation] {
      watcher->deleteLater();
      --self->running_;
      if (generation == self->generation_) self->Finished(request.path, request.key, watcher->result());
      self->StartDecodes();
    });
    watcher->setFuture(QtConcurrent::run(pool_, DecodeThumbnail, request.path, edge_));
  }
}

void ThumbnailModel::Finished(const QString& path, const QString& key, const QImage& image) {
  queued_.remove(key);
  if (image.isNull()) {
    undecodable_.insert(key);
    return;
  }
  auto* pixmap = new QPixmap(QPixmap::fromImage(image));
  const int costKb = qMax(1, int(image.sizeInBytes() / 1024));
  thumbnails_.insert(key, pixmap, costKb);
  const QModelIndex index = mapFromSource(files_->index(path));
  if (index.isValid()) emit dataChanged(index, index, {Qt::DecorationRole});
  emit ThumbnailReady(path);
}
