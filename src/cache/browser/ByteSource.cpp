#include "cache/browser/ByteSource.h"

#include <cstring>

#include "base/RegularFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Larger reads than this are refused: no cache structure the readers look at comes near it, and a
// corrupt length must not make a reader allocate gigabytes.
constexpr std::uint64_t kLargestSingleRead = 256ull << 20;

std::optional<std::vector<std::uint8_t>> ByteSource::Read(std::uint64_t offset, std::uint64_t length) {
  if (length > kLargestSingleRead || !RangeFits(offset, length, Size())) return std::nullopt;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
  if (!ReadAt(offset, out)) return std::nullopt;
  return out;
}

bool MemoryByteSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (!RangeFits(offset, out.size(), bytes_.size())) return false;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

namespace {
thread_local FolderOpenings* t_folders = nullptr;
}  // namespace

FolderOpenings::FolderOpenings() : outer_(t_folders) { t_folders = this; }

FolderOpenings::~FolderOpenings() {
#ifndef _WIN32
  if (fd_ >= 0) close(fd_);
#endif
  t_folders = outer_;
}

int FolderOpenings::FolderFd(const std::string& folder) {
#ifndef _WIN32
  if (fd_ >= 0 && folder == folder_) return fd_;
  if (fd_ >= 0) close(fd_);
#ifdef O_PATH
  fd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  folder_ = folder;
  return fd_;
#else
  (void)folder;
  return -1;
#endif
}

namespace {

// Opens path, relative to its folder's kept descriptor while a FolderOpenings lives.
RegularFileOpening OpenCacheFile(const std::string& path) {
  // A cache's own files are never links: one in their place is not read.
#ifndef _WIN32
  const std::size_t slash = path.rfind('/');
  if (t_folders && slash != std::string::npos && slash > 0 && slash + 1 < path.size()) {
    const int folder = t_folders->FolderFd(path.substr(0, slash));
    if (folder >= 0) return OpenRegularFileAt(folder, path.c_str() + slash + 1, path, FinalLink::Refuse);
  }
#endif
  return OpenRegularFileForReading(path, FinalLink::Refuse);
}

}  // namespace

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path) {
  const RegularFileOpening opening = OpenCacheFile(path);
  const int fd = opening.fd;
  if (fd < 0) return nullptr;
  if (opening.identified) {
    // The opening's check already took what the stamp holds.
    FileStamp stamp;
    stamp.device = opening.device;
    stamp.id = opening.id;
    stamp.size = opening.size;
    stamp.mtimeNs = opening.mtimeNs;
    return std::unique_ptr<FileByteSource>(new FileByteSource(fd, stamp));
  }
  const std::optional<FileStamp> stamp = StampOfDescriptor(fd);
  if (!stamp) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
    return nullptr;
  }
  return std::unique_ptr<FileByteSource>(new FileByteSource(fd, *stamp));
}

FileByteSource::~FileByteSource() {
#ifdef _WIN32
  _close(fd_);
#else
  close(fd_);
#endif
}

std::optional<FileStamp> FileByteSource::CurrentStamp() const { return StampOfDescriptor(fd_); }

void FileByteSource::KeepEnds(std::size_t head, std::size_t tail) {
  head_.clear();
  tail_.clear();
  const std::uint64_t size = stamp_.size;
  if (size <= std::uint64_t{head} + tail) {
    head_.resize(static_cast<std::size_t>(size));
    if (!ReadFromFile(0, head_)) head_.clear();
    return;
  }
  head_.resize(head);
  tail_.resize(tail);
  if (!ReadFromFile(0, head_) || !ReadFromFile(size - tail, tail_)) {
    head_.clear();
    tail_.clear();
  }
}

bool FileByteSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (!RangeFits(offset, out.size(), stamp_.size)) return false;
  if (!out.empty() && RangeFits(offset, out.size(), head_.size())) {
    std::memcpy(out.data(), head_.data() + offset, out.size());
    return true;
  }
  const std::uint64_t tailAt = stamp_.size - tail_.size();
  if (!out.empty() && !tail_.empty() && offset >= tailAt) {
    std::memcpy(out.data(), tail_.data() + (offset - tailAt), out.size());
    return true;
  }
  return ReadFromFile(offset, out);
}

bool FileByteSource::ReadFromFile(std::uint64_t offset, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::size_t want = out.size() - done;
#ifdef _WIN32
    if (_lseeki64(fd_, static_cast<__int64>(offset + done), SEEK_SET) < 0) return false;
    const int got = _read(fd_, out.data() + done, static_cast<unsigned>(want > (1u << 30) ? (1u << 30) : want));
#else
    const ssize_t got = pread(fd_, out.data() + done, want, static_cast<off_t>(offset + done));
#endif
    if (got <= 0) return false;  // an error, or the file became shorter
    done += static_cast<std::size_t>(got);
  }
  return true;
}
