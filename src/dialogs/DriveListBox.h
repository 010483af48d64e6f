#pragma once
// The drive list: a drop-down of the system's drives. On Windows these are the drive letters; on
// other systems the mounted, ready volumes that a file manager offers, the root volume first.
#include <QByteArray>
#include <QComboBox>
#include <QString>
#include <vector>

struct Volume {
  QString root;   // "C:\" or a mount point such as "/" or "/media/ann/USB"
  QString label;  // what the list shows
};

// The volumes of this system, in list order.
std::vector<Volume> SystemVolumes();

// True when a file manager would offer the volume mounted at root with the file-system type
// fsType to a user whose home folder is home: the root volume, and volumes under /media, /run/media
// or /mnt or inside the home folder (not in a hidden folder there); never pseudo file systems.
bool VolumeIsShown(const QString& root, const QByteArray& fsType, const QString& home);

// The label of a mounted volume: its name with the mount point in parentheses, or the mount point
// alone when it has no name.
QString VolumeLabel(const QString& root, const QString& name);

// The index of the volume that holds path, or -1. On Windows the drive letter is the path's first
// character; elsewhere it is the volume with the longest mount point that contains the absolute
// path (relative paths are taken from the current folder). Blank text has no drive.
int VolumeIndexOf(const std::vector<Volume>& volumes, const QString& path);

// The folder that opening a drive shows: on Windows the current folder that the system keeps for
// the drive; elsewhere the current folder when it lies on that volume, otherwise the volume's root.
QString CurrentFolderOfDrive(const std::vector<Volume>& volumes, int index);

class DriveListBox : public QComboBox {
  Q_OBJECT
 public:
  explicit DriveListBox(QWidget* parent = nullptr);

  // Replaces the list; the selection moves to the first volume without a Change.
  void SetVolumes(std::vector<Volume> volumes);
  const std::vector<Volume>& Volumes() const { return volumes_; }

  // The selected volume's root.
  QString Drive() const;
  // The folder that opening the selected drive shows.
  QString DriveFolder() const;

  // Selects the drive that holds path; true when that is another drive than before. Raises
  // NumberedError (device unavailable) when no listed drive holds the path. Emits no Change: the
  // caller runs the change handler itself.
  bool SelectDriveOf(const QString& path);

 signals:
  // The user chose another drive.
  void Change();

 private:
  void Chosen(int index);

  std::vector<Volume> volumes_;
  int selected_ = -1;
};
