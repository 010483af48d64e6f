#include "main/FolderListingModel.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>

namespace {

// Folder paths compare as the file system does.
constexpr Qt::CaseSensitivity kPathCase =
#ifdef Q_OS_WIN
    Qt::CaseInsensitive;
#else
    Qt::CaseSensitive;
#endif

QString CleanAbsolute(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

FolderListingModel::Entry EntryOf(const QFileInfo& info) {
  FolderListingModel::Entry entry;
  entry.name = info.fileName();
  entry.isFolder = info.isDir();
  entry.size = entry.isFolder ? 0 : info.size();
  entry.modifiedMs = info.lastModified().toMSecsSinceEpoch();
  return entry;
}

bool SameState(const FolderListingModel::Entry& a, const FolderListingModel::Entry& b) {
  return a.size == b.size && a.modifiedMs == b.modifiedMs;
}

}  // namespace

QVector<FolderListingModel::Entry> ListFolder(const QString& folder) {
  QVector<FolderListingModel::Entry> entries;
  // Without QDir::Hidden: dot files (and, on Windows, files with the hidden attribute) stay out.
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    entries.append(EntryOf(it.fileInfo()));
  }
  std::sort(entries.begin(), entries.end(), &FolderListingModel::Less);
  return entries;
}

int FolderListingModel::CompareNames(const QString& a, const QString& b) {
  // Letter case ignored and runs of digits compared by value; names that still tie are ordered
  // by their exact characters, so the order is total and does not depend on the listing.
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype endA = i;
      qsizetype endB = j;
      while (endA < a.size() && a[endA].isDigit()) ++endA;
      while (endB < b.size() && b[endB].isDigit()) ++endB;
      qsizetype startA = i;
      qsizetype startB = j;
      while (startA + 1 < endA && a[startA].digitValue() == 0) ++startA;
      while (startB + 1 < endB && b[startB].digitValue() == 0) ++startB;
      if (endA - startA != endB - startB) return endA - startA < endB - startB ? -1 : 1;
      for (; startA < endA; ++startA, ++startB) {
        const int da = a[startA].digitValue();
        const int db = b[startB].digitValue();
        if (da != db) return da < db ? -1 : 1;
      }
      i = endA;
      j = endB;
      continue;
    }
    const char32_t ca = QChar::toCaseFolded(a[i].unicode());
    const char32_t cb = QChar::toCaseFolded(b[j].unicode());
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b, Qt::CaseSensitive) < 0 ? -1 : (a == b ? 0 : 1);
}

bool FolderListingModel::Less(const Entry& a, const Entry& b) {
  if (a.isFolder != b.isFolder) return a.isFolder;
  return CompareNames(a.name, b.name) < 0;
}

FolderListingModel::FolderListingModel(QObject* parent)
    : QAbstractListModel(parent), watcher_(new QFileSystemWatcher(this)) {
  pool_.setMaxThreadCount(1);
  relistDelay_.setSingleShot(true);
  relistDelay_.setInterval(2000);
  connect(&relistDelay_, &QTimer::timeout, this, &FolderListingModel::StartListing);
  missingPoll_.setSingleShot(true);
  missingPoll_.setInterval(2000);
  connect(&missingPoll_, &QTimer::timeout, this, &FolderListingModel::StartListing);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderListingModel::FolderChanged);
}

FolderListingModel::~FolderListingModel() {
  // A listing still running posts its result to this object; the posted call goes with it.
  pool_.waitForDone();
}

void FolderListingModel::SetFolder(const QString& folder) {
  ++generation_;
  loaded_ = false;
  relistDelay_.stop();
  missingPoll_.stop();
  beginResetModel();
  entries_.clear();
  folder_ = CleanAbsolute(folder);
  endResetModel();
  SetMissing(false);
  if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
  if (QFileInfo(folder_).isDir()) watcher_->addPath(folder_);
  StartListing();
}

void FolderListingModel::FolderChanged() {
  // Changes come in bursts (a pass copies many files); one re-listing covers a whole burst.
  if (!relistDelay_.isActive()) relistDelay_.start();
}

void FolderListingModel::StartListing() {
  if (folder_.isEmpty()) return;
  if (listingRunning_) {
    relistWanted_ = true;
    return;
  }
  listingRunning_ = true;
  ++listingsStarted_;
  addedDuringListing_.clear();
  const quint64 generation = generation_;
  const QString folder = folder_;
  pool_.start([this, generation, folder] {
    QVector<Entry> listed = ListFolder(folder);
    // Asked after the listing: a folder removed while it was listed counts as missing.
    const bool missing = !QFileInfo(folder).isDir();
    QMetaObject::invokeMethod(
        this, [this, generation, listed = std::move(listed), missing] { ListingFinished(generation, listed, missing); },
        Qt::QueuedConnection);
  });
}

void FolderListingModel::SetMissing(bool missing) {
  if (missing == missing_) return;
  missing_ = missing;
  emit FolderMissingChanged();
}

void FolderListingModel::ListingFinished(quint64 generation, QVector<Entry> listed, bool missing) {
  listingRunning_ = false;
  if (generation == generation_) {
    ApplyListing(listed);
    SetMissing(missing);
    // No watcher tells when a missing folder comes back: it is looked for again after a while.
    if (missing) missingPoll_.start();
    // A folder that did not exist when it was set may exist now.
    if (watcher_->directories().isEmpty() && QFileInfo(folder_).isDir()) watcher_->addPath(folder_);
    if (!loaded_) {
      loaded_ = true;
      emit Loaded(folder_);
    }
  }
  if (relistWanted_ || generation != generation_) {
    relistWanted_ = false;
    StartListing();
  }
}

void FolderListingModel::ApplyListing(const QVector<Entry>& listed) {
  // Both lists are in the same order: one merge turns the shown list into the listed one with
  // runs of removals and insertions, and updates entries whose size or time changed.
  int row = 0;
  qsizetype next = 0;
  auto onlyShown = [&](int at) {
    return at < entries_.size() && (next == listed.size() || Less(entries_[at], listed[next]));
  };
  auto keep = [&](int at) { return addedDuringListing_.contains(entries_[at].name); };
  while (row < entries_.size() || next < listed.size()) {
    if (onlyShown(row)) {
      if (keep(row)) {
        ++row;
        continue;
      }
      int end = row + 1;
      while (onlyShown(end) && !keep(end)) ++end;
      beginRemoveRows(QModelIndex(), row, end - 1);
      entries_.remove(row, end - row);
      endRemoveRows();
    } else if (row == entries_.size() || Less(listed[next], entries_[row])) {
      qsizetype end = next + 1;
      while (end < listed.size() && (row == entries_.size() || Less(listed[end], entries_[row]))) ++end;
      const int count = static_cast<int>(end - next);
      beginInsertRows(QModelIndex(), row, row + count - 1);
      entries_.insert(row, count, Entry{});
      std::copy(listed.begin() + next, listed.begin() + end, entries_.begin() + row);
      endInsertRows();
      row += count;
      next = end;
    } else {
      if (!SameState(entries_[row], listed[next])) {
        entries_[row] = listed[next];
        emit dataChanged(index(row), index(row));
      }
      ++row;
      ++next;
    }
  }
}

int FolderListingModel::LowerBound(const Entry& probe) const {
  return static_cast<int>(std::lower_bound(entries_.begin(), entries_.end(), probe, &Less) - entries_.begin());
}

void FolderListingModel::AddFile(const QString& path) {
  if (folder_.isEmpty()) return;
  const QFileInfo info(path);
  if (QDir::cleanPath(info.absolutePath()).compare(folder_, kPathCase) != 0) return;
  if (!info.exists() || info.isHidden()) return;
  SetMissing(false);
  if (watcher_->directories().isEmpty()) watcher_->addPath(folder_);
  const Entry entry = EntryOf(info);
  if (listingRunning_) addedDuringListing_.insert(entry.name);
  const int row = LowerBound(entry);
  if (row < entries_.size() && !Less(entry, entries_[row])) {
    if (!SameState(entries_[row], entry)) {
      entries_[row] = entry;
      emit dataChanged(index(row), index(row));
    }
    return;
  }
  beginInsertRows(QModelIndex(), row, row);
  entries_.insert(row, entry);
  endInsertRows();
}

void FolderListingModel::RemoveFile(const QString& path) {
  const int row = RowOf(path);
  if (row < 0 || QFileInfo::exists(path)) return;
  addedDuringListing_.remove(entries_[row].name);
  beginRemoveRows(QModelIndex(), row, row);
  entries_.remove(row);
  endRemoveRows();
}

int FolderListingModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant FolderListingModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= entries_.size()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return entries_[index.row()].name;
  return {};
}

Qt::ItemFlags FolderListingModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractListModel::flags(index);
  if (index.isValid()) flags |= Qt::ItemIsDragEnabled;
  return flags;
}

namespace {
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
const QString kKdeCutSelection = QStringLiteral("application/x-kde-cutselection");
}  // namespace

QStringList FolderListingModel::mimeTypes() const {
  return {QStringLiteral("text/uri-list"), kGnomeCopiedFiles, kKdeCutSelection, QStringLiteral("text/plain")};
}

QMimeData* FolderListingModel::mimeData(const QModelIndexList& indexes) const {
  QList<int> rows;
  for (const QModelIndex& index : indexes) {
    if (index.isValid() && index.row() < entries_.size() && !rows.contains(index.row())) rows.append(index.row());
  }
  std::sort(rows.begin(), rows.end());
  QStringList paths;
  for (const int row : rows) paths.append(PathAt(row));
  return FilesMimeData(paths);
}

QMimeData* FilesMimeData(const QStringList& paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  QStringList shown;
  for (const QString& path : paths) {
    urls.append(QUrl::fromLocalFile(path));
    shown.append(QDir::toNativeSeparators(path));
  }
  data->setUrls(urls);
  QByteArray copied = QByteArrayLiteral("copy");
  for (const QUrl& url : urls) copied += '\n' + url.toEncoded();
  data->setData(kGnomeCopiedFiles, copied);
  data->setData(kKdeCutSelection, QByteArrayLiteral("0"));
  data->setText(shown.join(QLatin1Char('\n')));
  return data;
}

QString FolderListingModel::PathAt(int row) const {
  return folder_.endsWith(QLatin1Char('/')) ? folder_ + entries_[row].name
                                            : folder_ + QLatin1Char('/') + entries_[row].name;
}

QString FolderListingModel::KeyAt(int row) const {
  const Entry& entry = entries_[row];
  return PathAt(row) + QLatin1Char('|') + QString::number(entry.size) + QLatin1Char('|') +
         QString::number(entry.modifiedMs);
}

int FolderListingModel::RowOf(const QString& path) const {
  const QFileInfo info(path);
  if (QDir::cleanPath(info.absolutePath()).compare(folder_, kPathCase) != 0) return -1;
  for (const bool isFolder : {false, true}) {
    const Entry probe{info.fileName(), isFolder, 0, 0};
    const int row = LowerBound(probe);
    if (row < entries_.size() && !Less(probe, entries_[row])) return row;
  }
  return -1;
}
