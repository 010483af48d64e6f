#include "base/RegularFile.h"

#include "base/NumberedError.h"
#include "base/WidePath.h"

#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {
thread_local int t_exhaustion = 0;
thread_local OpeningProblems* t_problems = nullptr;

bool IsAbsence(int code) {
#ifdef _WIN32
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
#else
  return code == ENOENT || code == ENOTDIR;
#endif
}
}  // namespace

void NoteOpeningProblem(const std::string& path, const RegularFileOpening& opening) {
  if (IsExhaustion(opening.systemError)) t_exhaustion = opening.systemError;
  if (!t_problems || !t_problems->first_.empty()) return;
  if (!opening.notRegular && (opening.systemError == 0 || IsAbsence(opening.systemError))) return;
  t_problems->first_ = {path, opening.notRegular ? "not a regular file" : SystemErrorText(opening.systemError),
                        opening.notRegular ? 0 : opening.systemError};
}

OpeningProblems::OpeningProblems() : outer_(t_problems) { t_problems = this; }
OpeningProblems::~OpeningProblems() { t_problems = outer_; }

namespace {
RegularFileOpening Noted(const std::string& path, const RegularFileOpening& opening) {
  NoteOpeningProblem(path, opening);
  return opening;
}
}  // namespace

int TakeOpeningExhaustion() { return std::exchange(t_exhaustion, 0); }

RegularFileOpening OpenRegularFileForReading(const std::string& path, FinalLink link) {
#ifndef _WIN32
  return OpenRegularFileAt(AT_FDCWD, path.c_str(), path, link);
#else
  RegularFileOpening opening;
  (void)link;
  // Sharing read, write and delete: browsers keep their files open with write and delete access,
  // and neither side may be refused or block the other.
  const HANDLE handle =
      CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    opening.systemError = static_cast<int>(GetLastError());
    // A folder is refused as access denied; say instead that it is no file.
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      opening.systemError = 0;
      opening.notRegular = true;
    }
    return Noted(path, opening);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    opening.notRegular = true;
    return Noted(path, opening);
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    opening.systemError = ERROR_TOO_MANY_OPEN_FILES;
    CloseHandle(handle);
    return Noted(path, opening);
  }
  opening.fd = fd;
  return opening;
#endif
}

#ifndef _WIN32
RegularFileOpening OpenRegularFileAt(int folderFd, const char* name, const std::string& path, FinalLink link) {
  RegularFileOpening opening;
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one. It
  // stays set: reads of a regular file ignore it and block only as long as the disk takes.
  const int noFollow = link == FinalLink::Refuse ? O_NOFOLLOW : 0;
  const int fd = ::openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow);
  if (fd < 0) {
    opening.systemError = errno;
    if (noFollow && opening.systemError == ELOOP) {
      opening.systemError = 0;
      opening.notRegular = true;
    }
    return Noted(path, opening);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    opening.notRegular = true;
    return Noted(path, opening);
  }
  opening.identified = true;
  opening.device = static_cast<std::uint64_t>(info.st_dev);
  opening.id = static_cast<std::uint64_t>(info.st_ino);
  opening.size = static_cast<std::uint64_t>(info.st_size);
  opening.mtimeNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  opening.fd = fd;
  return opening;
}
#endif

std::FILE* OpenRegularFileStream(const std::string& path, RegularFileOpening* opening) {
  RegularFileOpening opened = OpenRegularFileForReading(path);
  std::FILE* file = nullptr;
  if (opened) {
#ifdef _WIN32
    file = _fdopen(opened.fd, "rb");
    if (!file) _close(opened.fd);
#else
    file = ::fdopen(opened.fd, "rb");
    if (!file) {
      opened.systemError = errno;
      ::close(opened.fd);
    }
#endif
    opened.fd = -1;
  }
  if (opening) *opening = opened;
  return file;
}

void RaiseOpeningError(const RegularFileOpening& opening) {
  if (opening.notRegular || opening.systemError == 0) {
    throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
  throw NumberedError::FromSystemError(opening.systemError);
}
