#include "cache/browser/FileStamp.h"

#include "base/WidePath.h"
#include "cache/browser/FileTimes.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

std::uint64_t Join(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

std::int64_t FileTimeToUnixNs(const FILETIME& time) {
  const std::uint64_t value = Join(time.dwHighDateTime, time.dwLowDateTime);
  return (static_cast<std::int64_t>(value) - static_cast<std::int64_t>(kFileTimeOfUnixEpoch)) * 100;
}

FileStamp StampOf(DWORD sizeHigh, DWORD sizeLow, const FILETIME& created, const FILETIME& written) {
  FileStamp stamp;
  stamp.id = Join(created.dwHighDateTime, created.dwLowDateTime);
  stamp.size = Join(sizeHigh, sizeLow);
  stamp.mtimeNs = FileTimeToUnixNs(written);
  return stamp;
}

}  // namespace

std::optional<FileStamp> StampOfPath(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return StampOf(data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime, data.ftLastWriteTime);
}

std::optional<FileStamp> StampOfDescriptor(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return StampOf(info.nFileSizeHigh, info.nFileSizeLow, info.ftCreationTime, info.ftLastWriteTime);
}

bool ListFolderFiles(const std::string& folder, const std::function<void(std::string_view, const FileStamp&)>& visit) {
  WIN32_FIND_DATAW data;
  const std::wstring pattern = WidePath(folder + "\\*");
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                 FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    visit(Utf8FromWide(data.cFileName),
          StampOf(data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime, data.ftLastWriteTime));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else

namespace {

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.id = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.mtimeNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

}  // namespace

std::optional<FileStamp> StampOfPath(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return StampOf(info);
}

std::optional<FileStamp> StampOfDescriptor(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return StampOf(info);
}

bool ListFolderFiles(const std::string& folder, const std::function<void(std::string_view, const FileStamp&)>& visit) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  const int fd = dirfd(dir);
  while (const dirent* item = readdir(dir)) {
    const char* name = item->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
#ifdef DT_DIR
    if (item->d_type == DT_DIR) continue;
#endif
    struct stat info {};
    if (fstatat(fd, name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
    visit(name, StampOf(info));
  }
  closedir(dir);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

#endif

std::uint64_t StampFileTime(const FileStamp& stamp) { return UnixNsToFileTime(stamp.mtimeNs); }
