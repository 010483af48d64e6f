#include "main/ThumbnailModel.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

#include "base/RegularFile.h"
#include "widgets/NativeText.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {
// Thumbnails kept in memory, in kilobytes: about 1800 thumbnails of 96 x 96 pixels.
constexpr int kThumbnailCacheKb = 64 * 1024;
}  // namespace

QImage DecodeThumbnail(const QString& path, int edge) {
  // Opened as every file the program reads is: a FIFO or a device in the folder would otherwise
  // hold a decoding thread, and the window's closing that waits for it, for ever.
  const RegularFileOpening opening = OpenRegularFileForReading(ToNative(path));
  if (!opening) return {};
  QFile file;
  if (!file.open(opening.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
#ifdef _WIN32
    _close(opening.fd);
#else
    ::close(opening.fd);
#endif
    return {};
  }
  QImageReader reader(&file, QFileInfo(path).suffix().toLatin1());
  reader.setDecideFormatFromContent(true);
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

QPixmap FilmIcon(const QString& type, int edge) {
  QPixmap pixmap(edge, edge);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // A strip of film, wider than tall, with a row of perforations along each edge.
  const QRectF strip(edge * 0.08, edge * 0.2, edge * 0.84, edge * 0.6);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x30, 0x30, 0x38));
  painter.drawRoundedRect(strip, edge * 0.04, edge * 0.04);
  painter.setBrush(QColor(0xf0, 0xf0, 0xf0));
  const double hole = edge * 0.06;
  for (double x = strip.left() + hole; x + hole <= strip.right() - hole / 2; x += 2 * hole) {
    painter.drawRect(QRectF(x, strip.top() + hole / 2, hole, hole));
    painter.drawRect(QRectF(x, strip.bottom() - 1.5 * hole, hole, hole));
  }
  // The type, as large as fits between the perforations.
  const QRectF label = strip.adjusted(hole, 2.5 * hole, -hole, -2.5 * hole);
  QFont font = QApplication::font();
  font.setBold(true);
  font.setPixelSize(qMax(6, int(label.height() * 0.8)));
  while (font.pixelSize() > 6 && QFontMetricsF(font).horizontalAdvance(type) > label.width()) {
    font.setPixelSize(font.pixelSize() - 1);
  }
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(label, Qt::AlignCenter, type);
  return pixmap;
}

void ThumbnailModel::SetThumbnailEdge(int pixels) {
  if (pixels == edge_) return;
  edge_ = pixels;
  // Decodes still running are of the old size: their results are dropped (generation).
  ++generation_;
  queue_.clear();
  queued_.clear();
  thumbnails_.clear();
  typeIcons_.clear();
  if (const int rows = rowCount(); rows > 0) emit dataChanged(index(0, 0), index(rows - 1, 0), {Qt::DecorationRole});
}

ThumbnailModel::ThumbnailModel(QObject* parent)
    : QIdentityProxyModel(parent), files_(new FolderListingModel(this)), pool_(new QThreadPool(this)) {
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
  files_->SetFolder(folder);
  return {};
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DecorationRole || index.column() != 0 || !index.isValid()) {
    return QIdentityProxyModel::data(index, role);
  }
  const int row = index.row();
  const FolderListingModel::Entry& entry = files_->EntryAt(row);
  if (entry.isFolder) return PlainIcon(entry);
  const QString key = files_->KeyAt(row);
  if (const QPixmap* thumbnail = thumbnails_.object(key)) return *thumbnail;
  if (!undecodable_.contains(key)) Enqueue(files_->PathAt(row), key);
  return PlainIcon(entry);
}

QIcon ThumbnailModel::PlainIcon(const FolderListingModel::Entry& entry) const {
  if (entry.isFolder) return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
  // The icon of the file's type, found from its extension alone (no disk access) and kept per
  // extension; the style's file icon where the theme has none (a bare desktop).
  const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
  const QString extension = dot < 0 ? QString() : entry.name.mid(dot + 1).toLower();
  auto found = typeIcons_.constFind(extension);
  if (found != typeIcons_.constEnd()) return *found;
  QIcon icon;
  if (!extension.isEmpty()) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(entry.name, QMimeDatabase::MatchExtension);
    if (type.name().startsWith(QLatin1String("video/"))) {
      icon = QIcon(FilmIcon(extension.toUpper(), edge_));
    } else {
      icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    }
  }
  if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  typeIcons_.insert(extension, icon);
  return icon;
}

bool ThumbnailModel::HasThumbnail(const QString& path) const {
  const int row = files_->RowOf(path);
  return row >= 0 && thumbnails_.contains(files_->KeyAt(row));
}

void ThumbnailModel::Enqueue(const QString& path, const QString& key) const {
  if (queued_.contains(key)) return;
  queued_.insert(key);
  queue_.append({path, key});
  // data() runs inside painting; the decodes start once the paint is over.
  QMetaObject::invokeMethod(
      const_cast<ThumbnailModel*>(this), [this] { StartDecodes(); }, Qt::QueuedConnection);
}

void ThumbnailModel::StartDecodes() const {
  auto* self = const_cast<ThumbnailModel*>(this);
  while (running_ < pool_->maxThreadCount() && !queue_.isEmpty()) {
    // The newest request first: it comes from what was painted last, which is what is in view.
    const Request request = queue_.takeLast();
    const int row = files_->RowOf(request.path);
    const QModelIndex index = row < 0 ? QModelIndex() : this->index(row, 0);
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
  const int row = files_->RowOf(path);
  if (row >= 0) emit dataChanged(index(row, 0), index(row, 0), {Qt::DecorationRole});
  emit ThumbnailReady(path);
}
