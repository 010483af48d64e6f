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

#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/RegularFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#endif

namespace {

// Creation is exclusive, so a name already taken only costs another try; this many tries all
// meeting taken names means something else is wrong.
constexpr unsigned kCreationAttempts = 100;

std::atomic<unsigned> g_sequence{0};

#ifdef _WIN32
unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
#endif

// The folder part of a path, with its trailing separator; empty for a bare file name.
std::string FolderPrefix(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
  }
  return {};
}

// ".<name>.tmp-<process>-<sequence>-<attempt>" beside target: no other writer in this or another
// process picks the same name at the same moment.
std::string ReplacementName(const std::string& target, unsigned attempt) {
  const std::string folder = FolderPrefix(target);
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%lx-%x-%x", ProcessId(), g_sequence.fetch_add(1), attempt);
  return folder + "." + target.substr(folder.size()) + suffix;
}

// ".tavrin-copy-" and six random letters and digits. The name starts with a dot so that folder
// views leave it out, and its prefix lets a later run recognise it as one of ours.
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
  std::string name = ".tavrin-copy-";
  for (int i = 0; i < 6; ++i, z /= 62) name += kLetters[z % 62];
  return JoinPath(folder, name);
}

constexpr std::string_view kCopyPrefix = ".tavrin-copy-";

// Exactly the names CopyName makes: a harvested picture may well be called ".tavrin-copy-ABCDEF.jpg".
bool IsLeftoverCopyName(std::string_view name) {
  if (name.size() != kCopyPrefix.size() + 6 || name.substr(0, kCopyPrefix.size()) != kCopyPrefix) return false;
  for (char c : name.substr(kCopyPrefix.size())) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

#ifndef _WIN32
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
#endif

#ifdef _WIN32
// True when the volume that holds path keeps named streams (NTFS does). Elsewhere (FAT, exFAT,
// many network shares, Wine's folders) "name:Zone.Identifier" is refused, or made a file of that
// name beside the copy.
bool HasNamedStreams(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD flags = 0;
  const BOOL known = GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
  CloseHandle(file);
  return known && (flags & FILE_NAMED_STREAMS) != 0;
}

void WriteZoneIdentifier(const std::string& target, const std::string& url) {
  if (!HasNamedStreams(target)) return;
  std::string text = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=";
  for (char c : url) {
    if (static_cast<unsigned char>(c) >= 0x20) text += c;
  }
  text += "\r\n";
  const HANDLE stream = CreateFileA((target + ":Zone.Identifier").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream == INVALID_HANDLE_VALUE) return;  // the copy simply has no mark
  DWORD written = 0;
  WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(stream);
}
#endif

}  // namespace

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
#ifndef _WIN32
  // Created under the umask like any new file; a file that replaces another keeps its permissions.
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(fd_, existing.st_mode & 07777);
  }
#endif
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

template <typename NameFor>
void FileWriter::Create(NameFor nameFor, bool locked) {
  for (unsigned attempt = 0;; ++attempt) {
    std::string path = nameFor(attempt);
#ifdef _WIN32
    // Hidden while it is being written; the mark goes when the file takes its name.
    // Opened without sharing: no other process can delete it while it is written.
    (void)locked;
    // Readable too, so that a copy can be compared with a file already there before it is placed.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = handle;
      tempPath_ = std::move(path);
      return;
    }
    const int error = LastSystemError();
    const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
#else
    const int fd = ::open(path.c_str(), (locked ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
#endif
    if (!taken || attempt + 1 >= kCreationAttempts) throw NumberedError::FromSystemError(error);
  }
}

FileWriter::~FileWriter() {
#ifdef _WIN32
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  if (!placed_ && !tempPath_.empty()) DeleteFileA(tempPath_.c_str());
#else
  if (fd_ >= 0) ::close(fd_);
  if (!placed_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
#endif
}

void FileWriter::Fail(int systemError) {
  if (!failed_) failure_ = systemError;
  failed_ = true;
}

void FileWriter::RaiseFailure() const {
  if (failure_ == 0) throw NumberedError(NumberedError::kDiskFull, "Disk full");
  throw NumberedError::FromSystemError(failure_);
}

bool FileWriter::WriteAll(const char* data, std::size_t length) {
  while (!failed_ && length > 0) {
#ifdef _WIN32
    // WriteFile takes a 32-bit length; a gigabyte at a time.
    const DWORD chunk = static_cast<DWORD>(length > 0x40000000u ? 0x40000000u : length);
    DWORD written = 0;
    if (!handle_) return false;
    if (!WriteFile(static_cast<HANDLE>(handle_), data, chunk, &written, nullptr)) {
      Fail(LastSystemError());
      break;
    }
#else
    if (fd_ < 0) return false;
    const ssize_t written = ::write(fd_, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(LastSystemError());
      break;
    }
#endif
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
  return [this](const char* data, std::size_t length) { return WriteAll(data, length); };
}

void FileWriter::Close(bool durable) {
#ifdef _WIN32
  if (handle_) {
    HANDLE handle = static_cast<HANDLE>(handle_);
    if (durable && !failed_ && !FlushFileBuffers(handle)) Fail(LastSystemError());
    if (!CloseHandle(handle)) Fail(LastSystemError());
    handle_ = nullptr;
  } else if (tempPath_.empty() || placed_) {
    Fail(ERROR_INVALID_HANDLE);
  }
#else
  if (fd_ >= 0) {
    // The contents must be on disk before a name points at them, or a crash right after the
    // rename could leave an empty file under the old name.
    if (durable && !failed_ && ::fsync(fd_) != 0) Fail(LastSystemError());
    if (::close(fd_) != 0) Fail(LastSystemError());
    fd_ = -1;
  } else if (tempPath_.empty() || placed_) {
    Fail(EBADF);
  }
#endif
  if (failed_) RaiseFailure();
}

#ifndef _WIN32

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

#else

void FileWriter::ReplaceTarget() {
  Close(true);
  // The file takes the target's name unhidden: a hidden Settings.txt would be left out of folder
  // views, and programs that recreate it without asking for the hidden mark are refused.
  SetFileAttributesA(tempPath_.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExA(tempPath_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int error = LastSystemError();
    SetFileAttributesA(tempPath_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    throw NumberedError::FromSystemError(error);
  }
  placed_ = true;
}

FileWriter::Placement FileWriter::PlaceIfNameFree(const std::string& target) {
  Close(false);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists.
  if (MoveFileExA(tempPath_.c_str(), target.c_str(), 0)) {
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    placed_ = true;
    if (!originUrl_.empty()) WriteZoneIdentifier(target, originUrl_);
    return Placement::Placed;
  }
  const int error = LastSystemError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return Placement::NameTaken;
  throw NumberedError::FromSystemError(error);
}

bool FileWriter::LinkNewFile(const std::string&) { return false; }

// Before its first placing the copy is still open without sharing: it is compared through its own
// handle, with reads at given offsets; no write follows a comparison.
bool FileWriter::SameContentsAs(const std::string& path) {
  if (!handle_) return SameContents(tempPath_, path);
  const HANDLE theirs = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (theirs == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool same = GetFileType(theirs) == FILE_TYPE_DISK && GetFileSizeEx(theirs, &size) &&
              static_cast<std::uint64_t>(size.QuadPart) == written_;
  constexpr DWORD kChunk = 64 * 1024;
  std::vector<char> ours(kChunk), other(kChunk);
  for (std::uint64_t at = 0; same && at < written_;) {
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(kChunk, written_ - at));
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD a = 0, b = 0;
    const BOOL readOurs = ReadFile(static_cast<HANDLE>(handle_), ours.data(), want, &a, &where);
    where = OVERLAPPED{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const BOOL readTheirs = ReadFile(theirs, other.data(), want, &b, &where);
    same = readOurs && readTheirs && a > 0 && a == b && std::memcmp(ours.data(), other.data(), a) == 0;
    at += a;
  }
  CloseHandle(theirs);
  return same;
}

void FileWriter::MarkOrigin(const std::string& url, const std::string&) { originUrl_ = url; }

int RemoveLeftoverCopies(const std::string& folder) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(JoinPath(folder, ".tavrin-copy-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    // Ours are created hidden; a file of that name without the mark is someone else's.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !(found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) ||
        !IsLeftoverCopyName(found.cFileName)) {
      continue;
    }
    // A running writer keeps its file open without sharing, so the delete fails and it stays.
    if (DeleteFileA(JoinPath(folder, found.cFileName).c_str())) ++removed;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return removed;
}

#endif

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
