#include "textfile/AtomicFile.h"

#include <atomic>
#include <cstdio>

#include "base/PathText.h"
#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

std::atomic<unsigned> g_sequence{0};

// The folder part of a path, with its trailing separator; empty for a bare file name.
std::string FolderPrefix(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
  }
  return {};
}

std::string BaseName(const std::string& path) { return path.substr(FolderPrefix(path).size()); }

// A name that no other writer in this or another process picks at the same moment; creation is
// exclusive anyway, so a clash only costs another try.
std::string TemporaryName(const std::string& target, unsigned attempt) {
  char suffix[48];
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  std::snprintf(suffix, sizeof suffix, ".tmp-%lx-%x-%x", process, g_sequence.fetch_add(1), attempt);
  return FolderPrefix(target) + "." + BaseName(target) + suffix;
}

#ifdef _WIN32
int LastSystemError() { return static_cast<int>(GetLastError()); }
#else
int LastSystemError() { return errno; }
#endif

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string target) : target_(std::move(target)) {
  for (unsigned attempt = 0;; ++attempt) {
    tempPath_ = TemporaryName(target_, attempt);
#ifdef _WIN32
    HANDLE handle = CreateFileA(tempPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = handle;
      return;
    }
    const int error = LastSystemError();
    if (error != ERROR_FILE_EXISTS || attempt >= 100) throw NumberedError::FromSystemError(error);
#else
    // The process umask applies to 0666, as for any file the program creates; an existing target
    // keeps its permissions below.
    fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      struct stat existing {};
      if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(fd_, existing.st_mode & 07777);
      }
      return;
    }
    const int error = LastSystemError();
    if (error != EEXIST || attempt >= 100) throw NumberedError::FromSystemError(error);
#endif
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (committed_) return;
  CloseHandleQuietly();
  std::remove(tempPath_.c_str());
}

void AtomicFileWriter::CloseHandleQuietly() {
#ifdef _WIN32
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
#else
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
#endif
}

void AtomicFileWriter::Write(std::string_view bytes) {
  while (!bytes.empty()) {
#ifdef _WIN32
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(bytes.size() > 0x40000000u ? 0x40000000u : bytes.size());
    if (!handle_ || !WriteFile(static_cast<HANDLE>(handle_), bytes.data(), chunk, &written, nullptr)) {
      throw NumberedError::FromSystemError(LastSystemError());
    }
#else
    if (fd_ < 0) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw NumberedError::FromSystemError(LastSystemError());
    }
#endif
    if (written == 0) throw NumberedError(NumberedError::kDiskFull, "Disk full");
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void AtomicFileWriter::Commit() {
#ifdef _WIN32
  HANDLE handle = static_cast<HANDLE>(handle_);
  if (!handle || !FlushFileBuffers(handle)) throw NumberedError::FromSystemError(LastSystemError());
  CloseHandle(handle);
  handle_ = nullptr;
  if (!MoveFileExA(tempPath_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw NumberedError::FromSystemError(LastSystemError());
  }
#else
  if (fd_ < 0) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  // The contents must be on disk before the name points at them, or a crash right after the
  // rename could leave an empty file under the old name.
  if (::fsync(fd_) != 0) throw NumberedError::FromSystemError(LastSystemError());
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) throw NumberedError::FromSystemError(LastSystemError());
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) throw NumberedError::FromSystemError(LastSystemError());
  // Make the rename itself durable; a failure here no longer endangers either version.
  const std::string folder = FolderPrefix(target_);
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
#endif
  committed_ = true;
}
