// The Windows half of FileWriter: handles opened without sharing, hidden temporaries, moves that
// never replace, and the Zone.Identifier stream.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "base/FileWriter.h"
#include "base/FileWriterNames.h"
#include "base/NumberedError.h"
#include "base/PathText.h"

using namespace file_writer;

namespace {

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

}  // namespace

void FileWriter::TakePermissionsOf(const std::string&) {}

bool FileWriter::CreateUnnamed(const std::string&) { return false; }

void FileWriter::Create(const std::function<std::string(unsigned)>& nameFor, bool) {
  for (unsigned attempt = 0;; ++attempt) {
    std::string path = nameFor(attempt);
    // Hidden while it is being written; the mark goes when the file takes its name.
    // Opened without sharing: no other process can delete it while it is written, which is also
    // what keeps RemoveLeftoverCopies away from it.
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
    if (!taken || attempt + 1 >= kCreationAttempts) throw NumberedError::FromSystemError(error);
  }
}

FileWriter::~FileWriter() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  if (!placed_ && !tempPath_.empty()) DeleteFileA(tempPath_.c_str());
}

std::int64_t FileWriter::WriteOnce(const char* data, std::size_t length) {
  if (!handle_) return -1;
  // WriteFile takes a 32-bit length; a gigabyte at a time.
  const DWORD chunk = static_cast<DWORD>(length > 0x40000000u ? 0x40000000u : length);
  DWORD written = 0;
  if (!WriteFile(static_cast<HANDLE>(handle_), data, chunk, &written, nullptr)) {
    Fail(LastSystemError());
    return -1;
  }
  return written;
}

void FileWriter::Close(bool durable) {
  if (handle_) {
    HANDLE handle = static_cast<HANDLE>(handle_);
    if (durable && !failed_ && !FlushFileBuffers(handle)) Fail(LastSystemError());
    if (!CloseHandle(handle)) Fail(LastSystemError());
    handle_ = nullptr;
  } else if (tempPath_.empty() || placed_) {
    Fail(ERROR_INVALID_HANDLE);
  }
  if (failed_) RaiseFailure();
}

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
