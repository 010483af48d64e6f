#pragma once
// A folder's files with pictures as their icons. Thumbnails are decoded on a worker thread at
// thumbnail size, only for items that the view shows, newest request first; until a thumbnail is
// ready, and for files that no image reader understands, the item keeps its plain icon: a film
// with the type's name on it for a video, the theme's icon of the type otherwise.
// Nothing here touches the disk on the UI thread: the listing carries each file's size and time.
#include <QCache>
#include <QHash>
#include <QIcon>
#include <QIdentityProxyModel>
#include <QPixmap>
#include <QSet>
#include <QStyle>
#include <QThreadPool>
#include <functional>

#include "main/FolderListingModel.h"

class ThumbnailModel : public QIdentityProxyModel {
  Q_OBJECT
 public:
  explicit ThumbnailModel(QObject* parent = nullptr);
  ~ThumbnailModel() override;

  FolderListingModel* Files() const { return files_; }
  // Shows the folder; thumbnails of the folder shown before are no longer decoded. The list is
  // flat: the view's root is the invalid index returned here.
  QModelIndex SetFolder(const QString& folder);
  // The size thumbnails are decoded at; a change drops those of the old size, and the items are
  // decoded again as they are painted.
  void SetThumbnailEdge(int pixels);
  int ThumbnailEdge() const { return edge_; }
  // Asked before a decode starts: a request for an item that is not visible any more is dropped
  // (it is made again when the item is painted).
  void SetVisibilityTest(std::function<bool(const QModelIndex&)> isVisible) { isVisible_ = std::move(isVisible); }

  QVariant data(const QModelIndex& index, int role) const override;

  // For tests and status: whether a thumbnail of the file is ready, and decodes waiting or running.
  bool HasThumbnail(const QString& path) const;
  int DecodesPending() const { return static_cast<int>(queue_.size()) + running_; }

 signals:
  void ThumbnailReady(const QString& path);

 private:
  struct Request {
    QString path;
    QString key;
  };
  QIcon PlainIcon(const FolderListingModel::Entry& entry) const;
  void Enqueue(const QString& path, const QString& key) const;
  void StartDecodes() const;
  void Finished(const QString& path, const QString& key, const QImage& image);

  FolderListingModel* files_;
  QThreadPool* pool_;
  int edge_ = 96;
  std::function<bool(const QModelIndex&)> isVisible_;
  // Requests come from data(), which is const; the caches are not part of the model's state.
  mutable QCache<QString, QPixmap> thumbnails_;
  mutable QSet<QString> undecodable_;
  mutable QSet<QString> queued_;
  mutable QList<Request> queue_;
  mutable QHash<QString, QIcon> typeIcons_;  // plain icons by lower-case extension
  mutable int running_ = 0;
  quint64 generation_ = 0;
};

// A film strip with type ("FLV") written across it, edge x edge pixels: the icon of a video.
QPixmap FilmIcon(const QString& type, int edge);

// Reads the picture at path scaled to fit edge x edge pixels; a null image when it cannot.
QImage DecodeThumbnail(const QString& path, int edge);
