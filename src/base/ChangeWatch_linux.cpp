// The folder watch of Linux: inotify, armed on the folder at the path.
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "base/FolderWatchParts.h"

namespace folder_watch {

namespace {

// File systems whose changes may come from elsewhere than this kernel, which then never tells:
// network file systems and FUSE.
bool IsRemoteFileSystem(long type) {
  switch (static_cast<unsigned long>(type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x47504653UL:  // GPFS
    case 0x0BD00BD0UL:  // Lustre
    case 0x5346414FUL:  // AFS
      return true;
    default:
      return false;
  }
}

class InotifyWatch : public NotifiedWatch {
 public:
  InotifyWatch(std::string folder, FolderWatchOptions options) : NotifiedWatch(std::move(folder), options) {}
  ~InotifyWatch() override { Disarm(); }
  InotifyWatch(const InotifyWatch&) = delete;
  InotifyWatch& operator=(const InotifyWatch&) = delete;

  bool Watching() const override { return fd_ >= 0; }

  FolderChanges TakeChanges() override {
    if (fd_ < 0 || !SameFolderAtPath()) return Relist();
    NameSet names(options_.mostNames);
    bool lost = false;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        lost = lost || errno != EAGAIN;
        break;
      }
      if (got == 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
          lost = true;
        } else if (event->len > 0 && event->name[0] != 0) {
          names.Add(event->name);
        }
      }
    }
    if (lost || names.Overflowed()) return Relist();
    return names.Take();
  }

 private:
  void Arm() override {
    struct statfs system {};
    if (statfs(folder_.c_str(), &system) != 0 || IsRemoteFileSystem(system.f_type)) return;
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;  // the limit of instances reached
    constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM |
                                      IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    struct stat info {};
    // The folder's identity is taken after the watch is set: a folder replaced in between is
    // then seen as replaced at the next call.
    if (inotify_add_watch(fd_, folder_.c_str(), kEvents | IN_ONLYDIR | IN_EXCL_UNLINK) < 0 ||
        stat(folder_.c_str(), &info) != 0) {
      Disarm();  // the limit of watches reached, or no folder there
      return;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
  }

  void Disarm() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  // The folder at the path is still the one watched: a parent renamed or replaced sends the
  // watched folder no event of its own.
  bool SameFolderAtPath() const {
    struct stat info {};
    return stat(folder_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_;
  }

  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace

std::unique_ptr<FolderWatch> WatchBySystem(const std::string& folder, FolderWatchOptions options) {
  return std::make_unique<InotifyWatch>(folder, options);
}

}  // namespace folder_watch
