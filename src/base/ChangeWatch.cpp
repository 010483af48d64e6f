#include "base/ChangeWatch.h"

#include <atomic>
#include <cstdlib>
#include <unordered_set>

#include "base/WidePath.h"

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> g_enabled{std::getenv("TAVRIN_NO_CHANGE_WATCH") == nullptr};

// Gathers the changed names of one call and tells when there are too many to be worth keeping.
class NameSet {
 public:
  explicit NameSet(std::size_t most) : most_(most) {}
  // False once more than the most names were added.
  bool Add(std::string name) {
    if (overflowed_) return false;
    names_.insert(std::move(name));
    overflowed_ = names_.size() > most_;
    if (overflowed_) names_.clear();
    return !overflowed_;
  }
  bool Overflowed() const { return overflowed_; }
  // The names gathered, as the changes of one call.
  FolderChanges Take() {
    FolderChanges changes;
    changes.relist = false;
    changes.names.assign(std::make_move_iterator(names_.begin()), std::make_move_iterator(names_.end()));
    return changes;
  }

 private:
  std::size_t most_;
  bool overflowed_ = false;
  std::unordered_set<std::string> names_;
};

// Where notifications are unavailable: every call asks for a listing.
class ListingOnly : public FolderWatch {
 public:
  FolderChanges TakeChanges() override { return {}; }
  bool Watching() const override { return false; }
};

#ifdef __linux__

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

class InotifyWatch : public FolderWatch {
 public:
  InotifyWatch(std::string folder, FolderWatchOptions options) : folder_(std::move(folder)), options_(options) {}
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
  // Drops what is queued, watches the folder at the path anew and asks for a listing.
  FolderChanges Relist() {
    Disarm();
    if (FolderWatchesEnabled() && options_.notify) Arm();
    return {};
  }

  void Arm() {
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

  void Disarm() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  // The folder at the path is still the one watched: a parent renamed or replaced sends the
  // watched folder no event of its own.
  bool SameFolderAtPath() const {
    struct stat info {};
    return stat(folder_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_;
  }

  std::string folder_;
  FolderWatchOptions options_;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

#endif  // __linux__

#ifdef _WIN32

// ReadDirectoryChangesW with an overlapped read that is polled at each call. A read that completes
// with no bytes means the system's buffer overflowed.
class DirectoryChangesWatch : public FolderWatch {
 public:
  DirectoryChangesWatch(std::string folder, FolderWatchOptions options)
      : folder_(std::move(folder)), options_(options), buffer_(64 * 1024 / sizeof(DWORD)) {}
  ~DirectoryChangesWatch() override { Disarm(); }
  DirectoryChangesWatch(const DirectoryChangesWatch&) = delete;
  DirectoryChangesWatch& operator=(const DirectoryChangesWatch&) = delete;

  bool Watching() const override { return folderHandle_ != INVALID_HANDLE_VALUE; }

  FolderChanges TakeChanges() override {
    if (folderHandle_ == INVALID_HANDLE_VALUE || !SameFolderAtPath()) return Relist();
    NameSet names(options_.mostNames);
    for (;;) {
      DWORD bytes = 0;
      if (!GetOverlappedResult(folderHandle_, &overlapped_, &bytes, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) break;  // nothing more for now
        return Relist();                                   // the folder is gone, or the read failed
      }
      if (bytes == 0) return Relist();  // more changes than the buffer held
      const auto* base = reinterpret_cast<const BYTE*>(buffer_.data());
      for (DWORD at = 0;;) {
        const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
        names.Add(Narrow(info->FileName, info->FileNameLength / sizeof(WCHAR)));
        if (info->NextEntryOffset == 0) break;
        at += info->NextEntryOffset;
      }
      if (!StartRead()) return Relist();
    }
    if (names.Overflowed()) return Relist();
    return names.Take();
  }

 private:
  FolderChanges Relist() {
    Disarm();
    if (FolderWatchesEnabled() && options_.notify) Arm();
    return {};
  }

  static bool IsRemote(const std::string& folder) {
    const std::wstring path = WidePath(folder);
    std::wstring root(path.size() + 2, L'\0');
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) return true;
    return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
  }

  // Names travel as the UTF-8 text that the rest of the program uses for paths.
  static std::string Narrow(const WCHAR* text, std::size_t length) { return Utf8FromWide({text, length}); }

  void Arm() {
    if (IsRemote(folder_)) return;
    folderHandle_ = CreateFileW(WidePath(folder_).c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (folderHandle_ == INVALID_HANDLE_VALUE) return;
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!event_ || !GetFileInformationByHandle(folderHandle_, &info) || !StartRead()) {
      Disarm();
      return;
    }
    volume_ = info.dwVolumeSerialNumber;
    index_ = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }

  bool StartRead() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                              FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_ATTRIBUTES;
    reading_ = ReadDirectoryChangesW(folderHandle_, buffer_.data(), static_cast<DWORD>(buffer_.size() * sizeof(DWORD)),
                                     FALSE, kFilter, nullptr, &overlapped_, nullptr) != 0;
    return reading_;
  }

  void Disarm() {
    if (folderHandle_ != INVALID_HANDLE_VALUE) {
      if (reading_) {
        // The buffer must outlive the read: wait until the cancelled read has ended.
        CancelIoEx(folderHandle_, &overlapped_);
        DWORD bytes = 0;
        GetOverlappedResult(folderHandle_, &overlapped_, &bytes, TRUE);
      }
      CloseHandle(folderHandle_);
    }
    if (event_) CloseHandle(event_);
    folderHandle_ = INVALID_HANDLE_VALUE;
    event_ = nullptr;
    reading_ = false;
  }

  bool SameFolderAtPath() const {
    HANDLE now = CreateFileW(WidePath(folder_).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (now == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = GetFileInformationByHandle(now, &info) && info.dwVolumeSerialNumber == volume_ &&
                      ((static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) == index_;
    CloseHandle(now);
    return same;
  }

  std::string folder_;
  FolderWatchOptions options_;
  std::vector<DWORD> buffer_;  // DWORD-aligned, as the call requires
  HANDLE folderHandle_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_{};
  bool reading_ = false;
  DWORD volume_ = 0;
  unsigned long long index_ = 0;
};

#endif  // _WIN32

}  // namespace

std::unique_ptr<FolderWatch> WatchFolder(const std::string& folder, FolderWatchOptions options) {
#ifdef __linux__
  return std::make_unique<InotifyWatch>(folder, options);
#elif defined(_WIN32)
  return std::make_unique<DirectoryChangesWatch>(folder, options);
#else
  (void)folder;
  (void)options;
  return std::make_unique<ListingOnly>();
#endif
}

void SetFolderWatchesEnabled(bool enabled) { g_enabled = enabled; }
bool FolderWatchesEnabled() { return g_enabled; }
