#pragma once
// The entries of one folder as a flat list: sub-folders first, then files, each group in natural
// name order ("img2" before "img10", letter case ignored). The folder is listed on a worker
// thread; files the harvest places arrive one by one through AddFile and go straight to their
// sorted place; changes made by other programs are picked up by a watcher, debounced, re-listed on
// the worker thread and applied as row removals and insertions, so the view keeps its scroll
// position and selection. Hidden entries never appear: the harvest writes its copies under hidden
// temporary names and renames them into place, so no half-written file is listed.
#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QMimeData>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QVector>

class FolderListingModel : public QAbstractListModel {
  Q_OBJECT
 public:
  struct Entry {
    QString name;
    bool isFolder = false;
    qint64 size = 0;
    qint64 modifiedMs = 0;  // last modification, milliseconds since the epoch
  };

  explicit FolderListingModel(QObject* parent = nullptr);
  ~FolderListingModel() override;

  // Empties the list and lists the folder (an absolute path) anew; Loaded follows.
  void SetFolder(const QString& folder);
  const QString& Folder() const { return folder_; }
  // A file now present at path, under its final name. Ignored unless it lies directly in the
  // folder shown and is not hidden; an entry of that name is updated. Costs one stat.
  void AddFile(const QString& path);

  // The entry at path is gone from the disk (moved to the recycle bin, say): it leaves the list at
  // once. Ignored while the file is still there.
  void RemoveFile(const QString& path);

  // Whether the folder shown was missing at its last listing (removed, say). While it is, it is
  // listed again every two seconds, so that it shows again once it is back.
  bool FolderMissing() const { return missing_; }

  // The shortest time between two re-listings caused by changes on disk.
  void SetRelistInterval(int milliseconds) { relistDelay_.setInterval(milliseconds); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Items are dragged out as files (FilesMimeData), copied, never moved: the drop target gets a
  // copy and the capture keeps its own.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

  const Entry& EntryAt(int row) const { return entries_[row]; }
  QString PathAt(int row) const;
  // path|size|modification time: changes whenever the file's contents may have changed.
  QString KeyAt(int row) const;
  // The row of the entry at path, or -1. A binary search.
  int RowOf(const QString& path) const;

  // How many listings of a folder were started since this model was made (for tests).
  int ListingsStarted() const { return listingsStarted_; }
  // Whether a listing is running or waiting for its turn.
  bool ListingPending() const { return listingRunning_ || relistDelay_.isActive(); }

  // The order of the list; exposed for the view's helpers and the tests.
  static bool Less(const Entry& a, const Entry& b);
  static int CompareNames(const QString& a, const QString& b);

 signals:
  // The first listing of the folder set by SetFolder is shown.
  void Loaded(const QString& folder);
  // FolderMissing changed.
  void FolderMissingChanged();

 private:
  void StartListing();
  void ListingFinished(quint64 generation, QVector<Entry> listed, bool missing);
  void SetMissing(bool missing);
  void ApplyListing(const QVector<Entry>& listed);
  void FolderChanged();
  int LowerBound(const Entry& probe) const;

  QString folder_;
  QVector<Entry> entries_;
  QFileSystemWatcher* watcher_;
  QTimer relistDelay_;
  QTimer missingPoll_;
  QThreadPool pool_;
  quint64 generation_ = 0;
  bool listingRunning_ = false;
  bool relistWanted_ = false;
  bool loaded_ = false;
  bool missing_ = false;
  int listingsStarted_ = 0;
  // Names added by AddFile since the running listing started: that listing may have missed them,
  // so it does not remove them.
  QSet<QString> addedDuringListing_;
};

// The files at paths as file managers take them from the clipboard or a drag: their file URLs
// (text/uri-list, which Qt offers on Windows as CF_HDROP), the GNOME and KDE forms saying they are
// copied rather than cut, and the native paths as text, one a line.
QMimeData* FilesMimeData(const QStringList& paths);

// Lists folder: name, kind, size and modification time of every entry that is not hidden, in the
// model's order. Runs on any thread.
QVector<FolderListingModel::Entry> ListFolder(const QString& folder);
