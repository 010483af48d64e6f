#include "textfile/LineReader.h"

#include <cerrno>

#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

int LastOpenError() {
#ifdef _WIN32
  // The C runtime maps the system error to errno; the system's own code is more precise.
  return static_cast<int>(GetLastError());
#else
  return errno;
#endif
}

// The error for a file that could not be opened for reading. A folder gives the same error on
// every platform (Windows reports it as access denied, which would read as a permissions problem).
[[noreturn]] void RaiseOpenError(const std::string& path) {
  const int error = LastOpenError();
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
#else
  (void)path;
#endif
  throw NumberedError::FromSystemError(error);
}

}  // namespace

void LineReader::Open(const std::string& path) {
  Close();
  errno = 0;
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) RaiseOpenError(path);
#ifndef _WIN32
  // A folder opens for reading here and only fails at the first read, which would look like an
  // empty file; it is refused as the open of a folder is elsewhere.
  struct stat info {};
  if (::fstat(::fileno(file_), &info) == 0 && S_ISDIR(info.st_mode)) {
    Close();
    throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
#endif
}

bool LineReader::AtEnd() {
  if (!file_) return true;
  const int next = std::getc(file_);
  if (next == EOF) return true;
  std::ungetc(next, file_);
  return false;
}

bool LineReader::ReadLine(std::string& line) {
  line.clear();
  if (!file_) return false;
  int c = std::getc(file_);
  if (c == EOF) {
    if (std::ferror(file_)) throw NumberedError(NumberedError::kDeviceIoError, "Device I/O error");
    return false;
  }
  for (; c != EOF; c = std::getc(file_)) {
    if (c == '\r') {
      const int next = std::getc(file_);
      if (next != '\n' && next != EOF) std::ungetc(next, file_);
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
  // A read error on a folder or a failing device shows only here, at the apparent end.
  if (std::ferror(file_)) throw NumberedError(NumberedError::kDeviceIoError, "Device I/O error");
  return true;
}

void LineReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

std::string ReadWholeFile(const std::string& path) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) RaiseOpenError(path);
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    bytes.append(chunk, got);
    if (got < sizeof chunk) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  // Reading a folder fails here (EISDIR), not at the open.
  if (failed) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  return bytes;
}
