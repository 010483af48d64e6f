#include "base/FileWriter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "base/FileWriterNames.h"
#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/RegularFile.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace {

std::atomic<unsigned> g_sequence{0};

#ifdef _WIN32
unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
#endif

constexpr std::string_view kCopyPrefix = ".tavrin-copy-";

}  // namespace

namespace file_writer {

std::string FolderPrefix(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
  }
  return {};
}

std::string ReplacementName(const std::string& target, unsigned attempt) {
  const std::string folder = FolderPrefix(target);
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%lx-%x-%x", ProcessId(), g_sequence.fetch_add(1), attempt);
  return folder + "." + target.substr(folder.size()) + suffix;
}

std::string CopyName(const std::string& folder) {
  static const std::uint64_t seed =
      std::random_device{}() ^ (static_cast<std::uint64_t>(ProcessId()) << 32) ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  // splitmix64 of the seed and a sequence number: distinct on every call, in any thread.
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (g_sequence.fetch_add(1) + 1ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(kCopyPrefix);
  for (int i = 0; i < 6; ++i, z /= 62) name += kLetters[z % 62];
  return JoinPath(folder, name);
}

bool IsLeftoverCopyName(std::string_view name) {
  if (name.size() != kCopyPrefix.size() + 6 || name.substr(0, kCopyPrefix.size()) != kCopyPrefix) return false;
  for (char c : name.substr(kCopyPrefix.size())) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace file_writer

using namespace file_writer;

FileWriter FileWriter::Replacing(const std::string& target) { return FileWriter(Kind::Replacement, target); }

FileWriter FileWriter::NewFileIn(const std::string& folder, Temporary temporary) {
  return FileWriter(Kind::NewFile, folder, temporary);
}

FileWriter::FileWriter(Kind kind, const std::string& path, Temporary temporary) {
  if (kind == Kind::NewFile) {
    if (temporary == Temporary::UnnamedWherePossible && CreateUnnamed(path)) return;
    Create([&](unsigned) { return CopyName(path); }, true);
    return;
  }
  target_ = path;
  Create([&](unsigned attempt) { return ReplacementName(path, attempt); }, false);
  TakePermissionsOf(path);
}

void FileWriter::Fail(int systemError) {
  if (!failed_) failure_ = systemError;
  failed_ = true;
}

std::optional<NumberedError> FileWriter::Failure() const {
  if (!failed_) return std::nullopt;
  if (failure_ == 0) return NumberedError(NumberedError::kDiskFull, "Disk full");
  return NumberedError::FromSystemError(failure_);
}

void FileWriter::RaiseFailure() const {
  if (const auto failure = Failure()) throw *failure;
  throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
}

bool FileWriter::WriteAll(const char* data, std::size_t length) {
  while (!failed_ && length > 0) {
    const std::int64_t written = WriteOnce(data, length);
    if (written < 0) return false;
    // Nothing written without an error: the disk is full.
    if (written == 0) Fail(0);
    written_ += static_cast<std::uint64_t>(written);
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return !failed_;
}

void FileWriter::Write(std::string_view bytes) {
  if (!WriteAll(bytes.data(), bytes.size())) {
    if (!failed_) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
    RaiseFailure();
  }
}

ByteSink FileWriter::Sink() {
  ByteSink::Bytes bytes = [this](const char* data, std::size_t length) { return WriteAll(data, length); };
#ifdef __linux__
  return ByteSink(std::move(bytes),
                  [this](int fd, std::uint64_t offset, std::uint64_t length, const ByteSink::ReadBack* readBack) {
                    return CopyRange(fd, offset, length, readBack);
                  });
#else
  return ByteSink(std::move(bytes), {});
#endif
}

namespace {

// One read of at most length bytes of fd at offset: how many were read, 0 at the end, -1 on error.
std::int64_t ReadSourceAt(int fd, char* data, std::size_t length, std::uint64_t offset) {
#ifdef _WIN32
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
  return _read(fd, data, static_cast<unsigned>(length));
#else
  for (;;) {
    const ssize_t got = ::pread(fd, data, length, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
#endif
}

}  // namespace

ByteSink::RangeOutcome FileWriter::CopyRange(int fd, std::uint64_t offset, std::uint64_t length,
                                             const ByteSink::ReadBack* readBack) {
  using Outcome = ByteSink::RangeOutcome;
  if (failed_) return Outcome::Refused;
  const std::uint64_t start = written_;
#ifdef _WIN32
  const std::uint64_t copied = 0;
#else
  const std::uint64_t copied = CopyInSystem(fd, offset, length);
#endif
  // Read and written here, the bytes go to readBack as they are written; after a copy by the
  // system the whole range is read back from this file instead.
  const bool feedAsWritten = copied == 0;
  thread_local std::vector<char> buffer;
  if (copied < length && buffer.size() < ByteSink::kReadBackPart) buffer.resize(ByteSink::kReadBackPart);
  for (std::uint64_t done = copied; done < length;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    for (std::size_t got = 0; got < want;) {
      const std::int64_t read = ReadSourceAt(fd, buffer.data() + got, want - got, offset + done + got);
      if (read <= 0) return Outcome::SourceShort;  // an error, or the file became shorter
      got += static_cast<std::size_t>(read);
    }
    if (!WriteAll(buffer.data(), want)) return Outcome::Refused;
    if (feedAsWritten && readBack && !(*readBack)(reinterpret_cast<const std::uint8_t*>(buffer.data()), want)) {
      return Outcome::Refused;
    }
    done += want;
  }
#ifndef _WIN32
  if (readBack && !feedAsWritten && !ReadBackWritten(start, length, *readBack)) return Outcome::Refused;
#else
  (void)start;
#endif
  return Outcome::Copied;
}

bool SameContents(const std::string& a, const std::string& b) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> fa(OpenRegularFileStream(a)), fb(OpenRegularFileStream(b));
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
