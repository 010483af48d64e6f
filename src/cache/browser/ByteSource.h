#pragma once
// Random access to the bytes of one cache file, or of a buffer standing in for one (tests and
// fuzzing). A read either delivers every byte asked for or fails; nothing is read past the end.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cache/browser/ByteReading.h"
#include "cache/browser/FileStamp.h"

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Fills out with the bytes at offset; false when they are not all there or cannot be read.
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;

  // Reads length bytes at offset into a new buffer; empty when the read fails.
  std::optional<std::vector<std::uint8_t>> Read(std::uint64_t offset, std::uint64_t length);
};

class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(Bytes bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  Bytes bytes_;
};

// While it lives, the cache files that FileByteSource opens on this thread are opened relative to
// their folder (POSIX), whose descriptor is opened with the first file in it and kept: a walk opens
// thousands of files in one folder, and the system then no longer walks the folder's path for
// each. Meant for the span of one walk, like the listing of a folder it goes with.
class FolderOpenings {
 public:
  FolderOpenings();
  ~FolderOpenings();
  FolderOpenings(const FolderOpenings&) = delete;
  FolderOpenings& operator=(const FolderOpenings&) = delete;
  // The descriptor of folder, opened now unless it is the one kept; -1 when it cannot be opened.
  int FolderFd(const std::string& folder);

 private:
  FolderOpenings* outer_;
  std::string folder_;
  int fd_ = -1;
};

// A cache file opened read-only. Its size is the size it had when it was opened; the stamp lets
// a reader check afterwards that nobody changed it meanwhile.
class FileByteSource : public ByteSource {
 public:
  // Null when the file cannot be opened (gone, locked, not a regular file).
  static std::unique_ptr<FileByteSource> Open(const std::string& path);
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  std::uint64_t Size() const override { return stamp_.size; }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
  // The stamp taken when the file was opened.
  const FileStamp& Stamp() const { return stamp_; }
  // The stamp of the open file now; empty when it cannot be taken.
  std::optional<FileStamp> CurrentStamp() const;
  // The open file (a C runtime descriptor), for a copy that the system makes from it.
  int Descriptor() const { return fd_; }
  // Reads the first head and the last tail bytes now, in one read each (one in all for a file no
  // larger than both), and answers later reads within them from memory: a reader of a format that
  // keeps its records at both ends reads each file in as few reads as that. A failed read keeps
  // nothing, and later reads then go to the file and fail there.
  void KeepEnds(std::size_t head, std::size_t tail);

 private:
  FileByteSource(int fd, const FileStamp& stamp) : fd_(fd), stamp_(stamp) {}
  // Reads out.size() bytes at offset from the file itself.
  bool ReadFromFile(std::uint64_t offset, std::span<std::uint8_t> out);
  int fd_;
  FileStamp stamp_;
  std::vector<std::uint8_t> head_;  // the file's first bytes, kept by KeepEnds
  std::vector<std::uint8_t> tail_;  // its last bytes
};
