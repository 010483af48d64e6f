#pragma once
// What identifies one version of a file on disk: the file's identity, its size and its
// modification time. A file whose stamp is unchanged is taken to hold the same bytes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct FileStamp {
  std::uint64_t device = 0;  // POSIX: st_dev; Windows: 0
  std::uint64_t id = 0;      // POSIX: st_ino; Windows: the creation time
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;  // nanoseconds since 1970-01-01 UTC
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file at path; empty when there is none (or it is a folder).
std::optional<FileStamp> StampOfPath(const std::string& path);
// The stamp of the regular file open as fd (a C runtime descriptor on Windows); empty when it is
// no regular file or cannot be asked.
std::optional<FileStamp> StampOfDescriptor(int fd);

// Calls visit with the name and stamp of every regular file directly in folder, in the order the
// file system gives them. Files that vanish while the folder is read are passed over. Returns
// false when the folder cannot be read.
bool ListFolderFiles(const std::string& folder,
                     const std::function<void(std::string_view name, const FileStamp&)>& visit);

// True when a folder exists at path.
bool IsFolder(const std::string& path);

// The modification time of a stamp as a FILETIME value (100-ns units since 1601, UTC).
std::uint64_t StampFileTime(const FileStamp& stamp);
