#include "dialogs/DriveListBox.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>

#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifndef _WIN32
bool IsPseudoFileSystem(const QByteArray& type) {
  static const QByteArray kPseudo[] = {
      "proc",      "sysfs",           "devtmpfs",    "devpts",       "tmpfs",      "ramfs",
      "squashfs",  "overlay",         "cgroup",      "cgroup2",      "securityfs", "debugfs",
      "tracefs",   "configfs",        "fusectl",     "mqueue",       "hugetlbfs",  "pstore",
      "bpf",       "autofs",          "binfmt_misc", "efivarfs",     "nsfs",       "rpc_pipefs",
      "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse"};
  return std::find(std::begin(kPseudo), std::end(kPseudo), type) != std::end(kPseudo);
}

bool IsInside(const QString& path, const QString& folder) {
  const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
  return path.startsWith(prefix) && path.size() > prefix.size();
}
#endif

}  // namespace

bool VolumeIsShown(const QString& root, const QByteArray& fsType, const QString& home) {
#ifdef _WIN32
  Q_UNUSED(root);
  Q_UNUSED(fsType);
  Q_UNUSED(home);
  return true;
#else
  if (root == QLatin1String("/")) return true;
  if (IsPseudoFileSystem(fsType)) return false;
  for (const char* place : {"/media", "/run/media", "/mnt"}) {
    if (IsInside(root, QLatin1String(place))) return true;
  }
  if (!home.isEmpty() && home != QLatin1String("/") && IsInside(root, home)) {
    // A mount inside a hidden folder of the home folder (a sandbox's, an application's) is not
    // a place the user browses to.
    return !root.mid(home.size()).contains(QLatin1String("/."));
  }
  return false;
#endif
}

QString VolumeLabel(const QString& root, const QString& name) {
  if (name.isEmpty() || name == root) return root;
  return name + QStringLiteral(" (") + root + QLatin1Char(')');
}

std::vector<Volume> SystemVolumes() {
  std::vector<Volume> volumes;
#ifdef _WIN32
  // Every drive letter, ready or not, as the platform's drive list shows them: "c: [LABEL]".
  for (const QFileInfo& drive : QDir::drives()) {
    const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());
    QString label = root.left(2).toLower();
    const QStorageInfo storage(root);
    if (storage.isValid() && storage.isReady() && !storage.name().isEmpty()) {
      label += QStringLiteral(" [") + storage.name() + QLatin1Char(']');
    }
    volumes.push_back({root, label});
  }
#else
  const QString home = QDir::homePath();
  for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
    if (!storage.isValid() || !storage.isReady()) continue;
    const QString root = storage.rootPath();
    if (!VolumeIsShown(root, storage.fileSystemType(), home)) continue;
    // The same mount point can be listed twice (a mount over a mount); the list shows it once.
    if (std::any_of(volumes.begin(), volumes.end(), [&](const Volume& v) { return v.root == root; })) continue;
    volumes.push_back({root, VolumeLabel(root, storage.name())});
  }
  // The root volume first, the others by mount point.
  std::sort(volumes.begin(), volumes.end(), [](const Volume& a, const Volume& b) {
    const bool aRoot = a.root == QLatin1String("/");
    const bool bRoot = b.root == QLatin1String("/");
    if (aRoot != bRoot) return aRoot;
    return a.root < b.root;
  });
  if (volumes.empty() || volumes.front().root != QLatin1String("/")) {
    volumes.insert(volumes.begin(), {QStringLiteral("/"), QStringLiteral("/")});
  }
#endif
  return volumes;
}

int VolumeIndexOf(const std::vector<Volume>& volumes, const QString& path) {
  if (path.trimmed().isEmpty()) return -1;
#ifdef _WIN32
  const QChar letter = path.at(0).toUpper();
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    if (volumes[i].root.at(0).toUpper() == letter) return static_cast<int>(i);
  }
  return -1;
#else
  const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  int best = -1;
  qsizetype bestLength = -1;
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    const QString& root = volumes[i].root;
    const bool holds = root == QLatin1String("/") || absolute == root || IsInside(absolute, root);
    if (holds && root.size() > bestLength) {
      best = static_cast<int>(i);
      bestLength = root.size();
    }
  }
  return best;
#endif
}

QString CurrentFolderOfDrive(const std::vector<Volume>& volumes, int index) {
  const QString root = volumes.at(static_cast<std::size_t>(index)).root;
#ifdef _WIN32
  // "X:" alone names the current folder that the system keeps for drive X.
  const std::wstring drive = root.left(2).toStdWString();
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetFullPathNameW(drive.c_str(), MAX_PATH * 2, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH * 2) return root;
  QString folder = QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
  // Some systems keep the folder with a closing separator; only a root keeps one in the list.
  if (folder.size() > 3 && folder.endsWith(QLatin1Char('\\'))) folder.chop(1);
  return folder;
#else
  const QString current = QDir::currentPath();
  if (VolumeIndexOf(volumes, current) == index) return QDir::toNativeSeparators(current);
  return root;
#endif
}

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this, &DriveListBox::Chosen);
  SetVolumes(SystemVolumes());
}

void DriveListBox::SetVolumes(std::vector<Volume> volumes) {
  const QSignalBlocker quiet(this);
  clear();
  volumes_ = std::move(volumes);
  for (const Volume& volume : volumes_) addItem(volume.label, volume.root);
  selected_ = volumes_.empty() ? -1 : 0;
  setCurrentIndex(selected_);
}

QString DriveListBox::Drive() const {
  return selected_ < 0 ? QString() : volumes_[static_cast<std::size_t>(selected_)].root;
}

QString DriveListBox::DriveFolder() const {
  if (selected_ < 0) throw NumberedError(NumberedError::kDeviceUnavailable, "Device unavailable");
  return CurrentFolderOfDrive(volumes_, selected_);
}

bool DriveListBox::SelectDriveOf(const QString& path) {
  const int index = VolumeIndexOf(volumes_, path);
  if (index < 0) throw NumberedError(NumberedError::kDeviceUnavailable, "Device unavailable");
  const QSignalBlocker quiet(this);
  setCurrentIndex(index);
  const bool changed = index != selected_;
  selected_ = index;
  return changed;
}

void DriveListBox::Chosen(int index) {
  if (index == selected_ || index < 0) return;
  selected_ = index;
  emit Change();
}
