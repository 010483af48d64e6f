#include "base/FileSystemObject.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/RegularFile.h"
#include "base/WidePath.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The last component's span, ignoring separators at the end (as the platform object does).
struct Split {
  std::size_t nameStart, nameEnd;
};

Split SplitLast(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
#ifdef _WIN32
  if (start == 0 && end >= 2 && path[1] == ':') start = 2;  // "C:name"
#endif
  return {start, end};
}

#ifdef _WIN32
bool StatPath(const std::string& path, bool& isFolder) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}
#else
bool StatPath(const std::string& path, bool& isFolder) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  isFolder = S_ISDIR(info.st_mode);
  return S_ISDIR(info.st_mode) || S_ISREG(info.st_mode);
}
#endif

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool FileSystemObject::FolderExists(const std::string& path) const {
  bool isFolder = false;
  return !path.empty() && StatPath(path, isFolder) && isFolder;
}

bool FileSystemObject::FileExists(const std::string& path) const {
  if (path.empty()) return false;
  if (auto provider = virtual_files::ProviderFor(path)) return provider->SizeOf(path).has_value();
  bool isFolder = false;
  return StatPath(path, isFolder) && !isFolder;
}

FileObject FileSystemObject::GetFile(const std::string& path) const {
  if (auto provider = virtual_files::ProviderFor(path)) {
    if (auto size = provider->SizeOf(path)) return {*size};
    throw NumberedError(NumberedError::kFileNotFound, "File not found");
  }
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw NumberedError(NumberedError::kFileNotFound, "File not found");
  }
  return {(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow};
#else
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw NumberedError(NumberedError::kFileNotFound, "File not found");
  }
  return {static_cast<std::uint64_t>(info.st_size)};
#endif
}

std::string FileSystemObject::GetFileName(const std::string& path) const {
  const Split s = SplitLast(path);
  return path.substr(s.nameStart, s.nameEnd - s.nameStart);
}

std::string FileSystemObject::GetBaseName(const std::string& path) const {
  const std::string name = GetFileName(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FileSystemObject::GetExtensionName(const std::string& path) const {
  const std::string name = GetFileName(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string FileSystemObject::GetParentFolderName(const std::string& path) const {
  const Split s = SplitLast(path);
  std::size_t end = s.nameStart;
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  if (end == 0 && s.nameStart > 0) return path.substr(0, 1);  // the root itself
#ifdef _WIN32
  if (end == 2 && path[1] == ':' && s.nameStart > 2) return path.substr(0, 3);  // "C:\"
#endif
  return path.substr(0, end);
}

void FileSystemObject::ReadContents(const std::string& path, const ByteSink& sink) const {
  if (auto provider = virtual_files::ProviderFor(path)) {
    TakeOpeningExhaustion();
    if (!provider->CopyTo(path, sink)) {
      // A provider says only that it could not copy; running out of descriptors or memory on the
      // way is no fault of the entry, and its reason is kept.
      if (const int exhausted = TakeOpeningExhaustion()) throw NumberedError::FromSystemError(exhausted);
      throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
    }
    return;
  }
  RegularFileOpening opening;
  std::unique_ptr<std::FILE, FileCloser> file(path.empty() ? nullptr : OpenRegularFileStream(path, &opening));
  if (!file) {
    if (opening.notRegular || opening.systemError != 0) RaiseOpeningError(opening);
    throw NumberedError(NumberedError::kFileNotFound, "File not found");
  }
  char chunk[64 * 1024];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got > 0 && !sink(chunk, got)) {
      throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
    }
    if (got < sizeof chunk) break;
  }
  if (std::ferror(file.get())) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
}
