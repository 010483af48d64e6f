#pragma once
// Tests for folders and files and the taking apart of paths, on the platform's paths. Paths handed
// out by cache sources (virtual local paths) are resolved through the virtual file registry.
#include <cstdint>
#include <string>

#include "base/VirtualFiles.h"

struct FileObject {
  std::uint64_t Size = 0;  // length in bytes; for a virtual path, the bytes a copy writes
};

class FileSystemObject {
 public:
  // True when a folder exists at the path (false for a file of that name).
  bool FolderExists(const std::string& path) const;
  // True when a file, real or virtual, exists at the path.
  bool FileExists(const std::string& path) const;
  // The file at the path; raises NumberedError (file not found) when there is none.
  FileObject GetFile(const std::string& path) const;

  // Name operations work on the text alone; the path need not exist.
  std::string GetFileName(const std::string& path) const;
  std::string GetBaseName(const std::string& path) const;
  std::string GetExtensionName(const std::string& path) const;
  std::string GetParentFolderName(const std::string& path) const;

  // The platform's file copy, reading side: streams the whole contents of a real or virtual file
  // to the sink. Raises NumberedError when the file cannot be read whole.
  void ReadContents(const std::string& path, const ByteSink& sink) const;
};
