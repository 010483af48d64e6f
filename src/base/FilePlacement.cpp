#include "base/FilePlacement.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/NumberedError.h"
#include "base/PathText.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void RaiseForErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      throw NumberedError(NumberedError::kPathNotFound, "Path not found");
    case EACCES:
    case EPERM:
    case EROFS:
      throw NumberedError(NumberedError::kPermissionDenied, "Permission denied");
    default:
      throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
}

#ifndef _WIN32
bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t wrote = ::write(fd, data, length);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += wrote;
    length -= static_cast<std::size_t>(wrote);
  }
  return true;
}
#endif

}  // namespace

#ifndef _WIN32

TempFile::TempFile(const std::string& folder) {
  std::string pattern = JoinPath(folder, ".tavrin-copy-XXXXXX");
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) RaiseForErrno(errno);
  // Created with 0600; give the copy the permissions an ordinary new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
  path_ = std::move(pattern);
}

TempFile::~TempFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!placed_ && !path_.empty()) ::unlink(path_.c_str());
}

ByteSink TempFile::Sink() {
  return [this](const char* data, std::size_t length) {
    if (failed_ || !WriteAll(fd_, data, length)) failed_ = true;
    return !failed_;
  };
}

void TempFile::Finish() {
  if (fd_ >= 0 && ::close(fd_) != 0) failed_ = true;
  fd_ = -1;
  if (failed_) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
}

TempFile::Placement TempFile::PlaceAt(const std::string& target) {
  // A hard link fails when the name exists, so the check and the naming are one atomic step.
  if (::link(path_.c_str(), target.c_str()) == 0) {
    ::unlink(path_.c_str());
    placed_ = true;
    return Placement::Placed;
  }
  if (errno == EEXIST) return Placement::NameTaken;
  const int linkError = errno;
  if (linkError != EPERM && linkError != ENOTSUP && linkError != EOPNOTSUPP && linkError != EMLINK) {
    RaiseForErrno(linkError);
  }
  // File systems without hard links (FAT, some network mounts): reserve the name exclusively,
  // then move the finished file over the reservation, which is ours alone.
  const int reserved = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (reserved < 0) {
    if (errno == EEXIST) return Placement::NameTaken;
    RaiseForErrno(errno);
  }
  ::close(reserved);
  if (::rename(path_.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(target.c_str());
    RaiseForErrno(error);
  }
  placed_ = true;
  return Placement::Placed;
}

#else

TempFile::TempFile(const std::string& folder) {
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, ".tavrin-copy-%08lx%04x", GetTickCount(), static_cast<unsigned>(rand() & 0xFFFF));
    std::string candidate = JoinPath(folder, name);
    fd_ = _open(candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd_ >= 0) {
      path_ = candidate;
      SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    } else if (errno != EEXIST) {
      RaiseForErrno(errno);
    }
  }
  if (fd_ < 0) RaiseForErrno(EEXIST);
}

TempFile::~TempFile() {
  if (fd_ >= 0) _close(fd_);
  if (!placed_ && !path_.empty()) DeleteFileA(path_.c_str());
}

ByteSink TempFile::Sink() {
  return [this](const char* data, std::size_t length) {
    while (!failed_ && length > 0) {
      const unsigned chunk = length > (1u << 30) ? (1u << 30) : static_cast<unsigned>(length);
      const int wrote = _write(fd_, data, chunk);
      if (wrote <= 0) failed_ = true;
      else {
        data += wrote;
        length -= static_cast<std::size_t>(wrote);
      }
    }
    return !failed_;
  };
}

void TempFile::Finish() {
  if (fd_ >= 0 && _close(fd_) != 0) failed_ = true;
  fd_ = -1;
  if (failed_) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
}

TempFile::Placement TempFile::PlaceAt(const std::string& target) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists.
  if (MoveFileExA(path_.c_str(), target.c_str(), 0)) {
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    placed_ = true;
    return Placement::Placed;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return Placement::NameTaken;
  if (error == ERROR_PATH_NOT_FOUND) throw NumberedError(NumberedError::kPathNotFound, "Path not found");
  if (error == ERROR_ACCESS_DENIED) throw NumberedError(NumberedError::kPermissionDenied, "Permission denied");
  throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
}

#endif

bool SameContents(const std::string& a, const std::string& b) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> fa(std::fopen(a.c_str(), "rb")), fb(std::fopen(b.c_str(), "rb"));
  if (!fa || !fb) return false;
  constexpr std::size_t kChunk = 64 * 1024;
  std::vector<char> bufA(kChunk), bufB(kChunk);
  for (;;) {
    const std::size_t ga = std::fread(bufA.data(), 1, kChunk, fa.get());
    const std::size_t gb = std::fread(bufB.data(), 1, kChunk, fb.get());
    if (ga != gb || std::memcmp(bufA.data(), bufB.data(), ga) != 0) return false;
    if (ga < kChunk) return !std::ferror(fa.get()) && !std::ferror(fb.get());
  }
}
