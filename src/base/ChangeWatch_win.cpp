// The folder watch of Windows: ReadDirectoryChangesW, polled at each call.
#include <windows.h>

#include <vector>

#include "base/FolderWatchParts.h"
#include "base/WidePath.h"

namespace folder_watch {

namespace {

// ReadDirectoryChangesW with an overlapped read that is polled at each call. A read that completes
// with no bytes means the system's buffer overflowed.
class DirectoryChangesWatch : public NotifiedWatch {
 public:
  DirectoryChangesWatch(std::string folder, FolderWatchOptions options)
      : NotifiedWatch(std::move(folder), options), buffer_(64 * 1024 / sizeof(DWORD)) {}
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
  static bool IsRemote(const std::string& folder) {
    const std::wstring path = WidePath(folder);
    std::wstring root(path.size() + 2, L'\0');
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) return true;
    return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
  }

  // Names travel as the UTF-8 text that the rest of the program uses for paths.
  static std::string Narrow(const WCHAR* text, std::size_t length) { return Utf8FromWide({text, length}); }

  void Arm() override {
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

  void Disarm() override {
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

  std::vector<DWORD> buffer_;  // DWORD-aligned, as the call requires
  HANDLE folderHandle_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_{};
  bool reading_ = false;
  DWORD volume_ = 0;
  unsigned long long index_ = 0;
};

}  // namespace

std::unique_ptr<FolderWatch> WatchBySystem(const std::string& folder, FolderWatchOptions options) {
  return std::make_unique<DirectoryChangesWatch>(folder, options);
}

}  // namespace folder_watch
