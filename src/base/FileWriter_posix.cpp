// The POSIX half of FileWriter: file descriptors, flock, hard links and renameat2.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "base/FileWriter.h"
#include "base/FileWriterNames.h"
#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/RegularFile.h"

#ifdef __linux__
#include <sys/xattr.h>
#endif

using namespace file_writer;

namespace {

// Moves from to to unless something is named to already; false then. Where the file system has no
// move that refuses to replace (NFS, FUSE file systems of the older protocol), the name is looked
// up just before a plain move, under a lock on the folder that every writer of this program takes
// for it, so that two harvesters into one folder never replace each other's copies.
bool MoveIfNameFree(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP) {
    throw NumberedError::FromSystemError(LastSystemError());
  }
#endif
  const std::string folder = FolderPrefix(to);
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) ::flock(dir, LOCK_EX);  // best effort: some network file systems lock no folder
  struct stat existing {};
  int error = 0;
  bool moved = false;
  if (::lstat(to.c_str(), &existing) != 0) {
    error = errno == ENOENT ? 0 : errno;  // ENOENT: the name is free
    if (error == 0 && ::rename(from.c_str(), to.c_str()) == 0) moved = true;
    if (error == 0 && !moved) error = errno;
  }
  if (dir >= 0) ::close(dir);
  if (error != 0) throw NumberedError::FromSystemError(error);
  return moved;
}

}  // namespace

void FileWriter::TakePermissionsOf(const std::string& target) {
  // Created under the umask like any new file; a file that replaces another keeps its permissions.
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(fd_, existing.st_mode & 07777);
  }
}

bool FileWriter::CreateUnnamed(const std::string& folder) {
#if defined(__linux__) && defined(O_TMPFILE)
  // The file gets its name through /proc/self/fd; without /proc it could never get one.
  static const bool canName = ::access("/proc/self/fd", X_OK) == 0;
  if (!canName) return false;
  // File systems without unnamed files refuse (EOPNOTSUPP, EISDIR); the named file is used then,
  // and its creation reports any other trouble with the folder.
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  unnamed_ = true;
  return true;
#else
  (void)folder;
  return false;
#endif
}

void FileWriter::Create(const std::function<std::string(unsigned)>& nameFor, bool locked) {
  for (unsigned attempt = 0;; ++attempt) {
    std::string path = nameFor(attempt);
    // Readable too, so that what a range copy put into it can be read back for its checks.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 && locked) {
      // Held until the file is placed or removed, so that another run's clean-up leaves it alone.
      // A clean-up that took the lock first has removed the file: another name is tried then.
      struct stat info {};
      if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &info) != 0 || info.st_nlink == 0) {
        ::close(fd);
        if (attempt + 1 >= kCreationAttempts) throw NumberedError::FromSystemError(EEXIST);
        continue;
      }
    }
    if (fd >= 0) {
      fd_ = fd;
      tempPath_ = std::move(path);
      return;
    }
    const int error = LastSystemError();
    const bool taken = error == EEXIST;
    if (!taken || attempt + 1 >= kCreationAttempts) throw NumberedError::FromSystemError(error);
  }
}

FileWriter::~FileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!placed_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
}

std::int64_t FileWriter::WriteOnce(const char* data, std::size_t length) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t written = ::write(fd_, data, length);
    if (written >= 0) return written;
    if (errno == EINTR) continue;
    Fail(LastSystemError());
    return -1;
  }
}

std::uint64_t FileWriter::CopyInSystem(int fd, std::uint64_t offset, std::uint64_t length) {
  std::uint64_t done = 0;
#ifdef __linux__
  constexpr std::uint64_t kLargestCall = 1ull << 30;
  while (fd_ >= 0 && done < length) {
    auto from = static_cast<loff_t>(offset + done);
    const ssize_t copied =
        ::copy_file_range(fd, &from, fd_, nullptr, static_cast<std::size_t>(std::min(length - done, kLargestCall)), 0);
    if (copied > 0) {
      done += static_cast<std::uint64_t>(copied);
      written_ += static_cast<std::uint64_t>(copied);
      continue;
    }
    if (copied < 0 && errno == EINTR) continue;
    // Refused (EXDEV, EINVAL, ENOSYS, EOPNOTSUPP: other file systems, a file the system cannot
    // copy so), failed, or nothing copied: the rest is read and written, which also tells a source
    // that ended or failed from a destination that cannot take the bytes.
    break;
  }
#else
  (void)fd;
  (void)offset;
  (void)length;
#endif
  return done;
}

bool FileWriter::ReadBackWritten(std::uint64_t at, std::uint64_t length, const ByteSink::ReadBack& readBack) {
  thread_local std::vector<std::uint8_t> buffer;
  if (buffer.size() < ByteSink::kReadBackPart) buffer.resize(ByteSink::kReadBackPart);
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    for (std::size_t got = 0; got < want;) {
      const ssize_t read = ::pread(fd_, buffer.data() + got, want - got, static_cast<off_t>(at + done + got));
      if (read < 0 && errno == EINTR) continue;
      if (read <= 0) {
        Fail(read < 0 ? LastSystemError() : EIO);
        return false;
      }
      got += static_cast<std::size_t>(read);
    }
    if (!readBack(buffer.data(), want)) return false;
    done += want;
  }
  return true;
}

void FileWriter::Close(bool durable) {
  if (fd_ >= 0) {
    // The contents must be on disk before a name points at them, or a crash right after the
    // rename could leave an empty file under the old name.
    if (durable && !failed_ && ::fsync(fd_) != 0) Fail(LastSystemError());
    if (::close(fd_) != 0) Fail(LastSystemError());
    fd_ = -1;
  } else if (tempPath_.empty() || placed_) {
    Fail(EBADF);
  }
  if (failed_) RaiseFailure();
}

void FileWriter::ReplaceTarget() {
  Close(true);
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) throw NumberedError::FromSystemError(LastSystemError());
  placed_ = true;
  // Make the rename itself durable; a failure here no longer endangers either version.
  const std::string folder = FolderPrefix(target_);
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

FileWriter::Placement FileWriter::PlaceIfNameFree(const std::string& target) {
  if (failed_) RaiseFailure();
  if (fd_ < 0) {
    Fail(EBADF);
    RaiseFailure();
  }
  // The file stays open (and locked) until it has its name.
  if (!LinkNewFile(target)) return Placement::NameTaken;
  placed_ = true;
  try {
    Close(false);
  } catch (...) {
    // The contents may not all have reached the file: the name must not keep them.
    ::unlink(target.c_str());
    throw;
  }
  return Placement::Placed;
}

bool FileWriter::LinkNewFile(const std::string& target) {
  // A hard link fails when the name exists, so the check and the naming are one atomic step.
  if (unnamed_) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno == EEXIST) return false;
    throw NumberedError::FromSystemError(LastSystemError());
  }
  if (::link(tempPath_.c_str(), target.c_str()) == 0) {
    ::unlink(tempPath_.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  const int linkError = errno;
  if (linkError != EPERM && linkError != ENOTSUP && linkError != EOPNOTSUPP && linkError != EMLINK) {
    throw NumberedError::FromSystemError(linkError);
  }
  // File systems without hard links (FAT, exFAT, network shares): the finished file is moved from
  // its temporary name with a move that never replaces, so that a crash at any moment leaves at
  // most the temporary, which the next start removes, and never an empty file under a real name.
  return MoveIfNameFree(tempPath_, target);
}

bool FileWriter::SameContentsAs(const std::string& path) {
  if (fd_ < 0) return SameContents(tempPath_, path);
  const RegularFileOpening other = OpenRegularFileForReading(path);
  if (!other) return false;
  struct stat info {};
  bool same = ::fstat(other.fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) == written_;
  constexpr std::size_t kChunk = 64 * 1024;
  std::vector<char> ours(kChunk), theirs(kChunk);
  for (std::uint64_t at = 0; same && at < written_;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, written_ - at));
    const ssize_t a = ::pread(fd_, ours.data(), want, static_cast<off_t>(at));
    const ssize_t b = ::pread(other.fd, theirs.data(), want, static_cast<off_t>(at));
    same = a > 0 && a == b && std::memcmp(ours.data(), theirs.data(), static_cast<std::size_t>(a)) == 0;
    at += static_cast<std::uint64_t>(a > 0 ? a : 0);
  }
  ::close(other.fd);
  return same;
}

void FileWriter::MarkOrigin(const std::string& url, const std::string& mimeType) {
#ifdef __linux__
  if (fd_ < 0) return;
  if (!url.empty()) ::fsetxattr(fd_, "user.xdg.origin.url", url.data(), url.size(), 0);
  if (!mimeType.empty()) ::fsetxattr(fd_, "user.mime_type", mimeType.data(), mimeType.size(), 0);
#else
  (void)url;
  (void)mimeType;
#endif
}

int RemoveLeftoverCopies(const std::string& folder) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* item = ::readdir(dir)) {
    if (!IsLeftoverCopyName(item->d_name)) continue;
    const std::string path = JoinPath(folder, item->d_name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    // A writer holds the lock on its file until it is placed: only a file nobody holds goes, and
    // only the very file that was locked.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
        ::unlink(path.c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}
