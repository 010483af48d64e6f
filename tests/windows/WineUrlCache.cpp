#include "WineUrlCache.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace wine_cache {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + " failed, error " + std::to_string(GetLastError()));
}

std::uint64_t Value(const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

RawEntry ToRaw(const INTERNET_CACHE_ENTRY_INFOA& info) {
  RawEntry raw;
  raw.url = info.lpszSourceUrlName ? info.lpszSourceUrlName : "";
  raw.localPath = info.lpszLocalFileName ? info.lpszLocalFileName : "";
  raw.type = info.CacheEntryType;
  raw.structSize = info.dwStructSize;
  raw.size = (std::uint64_t{info.dwSizeHigh} << 32) | info.dwSizeLow;
  raw.lastAccess = Value(info.LastAccessTime);
  raw.headerBytes = info.dwHeaderInfoSize;
  return raw;
}

struct InternetHandle {
  HINTERNET handle;
  ~InternetHandle() {
    if (handle) InternetCloseHandle(handle);
  }
};

}  // namespace

RawWalk ListRawEntries() {
  RawWalk walk;
  std::vector<std::uint64_t> buffer;
  auto info = [&] { return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()); };
  DWORD length = 0;
  SetLastError(0);
  HANDLE probe = FindFirstUrlCacheEntryA(nullptr, nullptr, &length);
  walk.firstProbeError = GetLastError();
  walk.firstProbeLength = length;
  walk.firstProbeReturnedHandle = probe != nullptr;
  if (probe) FindCloseUrlCache(probe);
  if (probe || length == 0) return walk;
  buffer.resize(length / 8 + 1);
  HANDLE find = FindFirstUrlCacheEntryA(nullptr, info(), &length);
  if (!find) Fail("FindFirstUrlCacheEntryA fetch");
  for (;;) {
    walk.entries.push_back(ToRaw(*info()));
    length = 0;
    SetLastError(0);
    FindNextUrlCacheEntryA(find, nullptr, &length);
    if (length == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      walk.endError = GetLastError();
      walk.endLength = length;
      break;
    }
    buffer.resize(length / 8 + 1);
    if (!FindNextUrlCacheEntryA(find, info(), &length)) {
      FindCloseUrlCache(find);
      Fail("FindNextUrlCacheEntryA fetch");
    }
  }
  FindCloseUrlCache(find);
  return walk;
}

void EmptyUrlCache() {
  for (const RawEntry& entry : ListRawEntries().entries) {
    if (!DeleteUrlCacheEntryA(entry.url.c_str())) Fail("DeleteUrlCacheEntryA(" + entry.url + ")");
  }
  if (!ListRawEntries().entries.empty())
    throw std::runtime_error("the URL cache is not empty after deleting every entry");
}

std::string AddCacheEntry(const std::string& url, const std::string& extension, const std::string& bytes,
                          const std::string& headers) {
  char path[MAX_PATH + 1] = {};
  if (!CreateUrlCacheEntryA(url.c_str(), static_cast<DWORD>(bytes.size()), extension.c_str(), path, 0)) {
    Fail("CreateUrlCacheEntryA(" + url + ")");
  }
  WriteWholeFile(path, bytes);
  const FILETIME never = {0, 0};
  if (!CommitUrlCacheEntryA(url.c_str(), path, never, never, NORMAL_CACHE_ENTRY,
                            reinterpret_cast<BYTE*>(const_cast<char*>(headers.data())),
                            static_cast<DWORD>(headers.size()), extension.c_str(), nullptr)) {
    Fail("CommitUrlCacheEntryA(" + url + ")");
  }
  return path;
}

bool SetCookie(const std::string& url, const std::string& name, const std::string& data) {
  return InternetSetCookieA(url.c_str(), name.c_str(), data.c_str()) != FALSE;
}

void AddEntryWithoutFile(const std::string& url) {
  const FILETIME never = {0, 0};
  if (!CommitUrlCacheEntryA(url.c_str(), nullptr, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr)) {
    Fail("CommitUrlCacheEntryA(" + url + ", no file)");
  }
}

std::string FetchUrl(const std::string& url, bool reload) {
  InternetHandle session{InternetOpenA("Tavrin tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
  if (!session.handle) Fail("InternetOpenA");
  InternetHandle request{
      InternetOpenUrlA(session.handle, url.c_str(), nullptr, 0, reload ? INTERNET_FLAG_RELOAD : 0, 0)};
  if (!request.handle) Fail("InternetOpenUrlA(" + url + ")");
  std::string body;
  char chunk[16384];
  DWORD got = 0;
  while (InternetReadFile(request.handle, chunk, sizeof chunk, &got) && got > 0) body.append(chunk, got);
  if (got != 0) Fail("InternetReadFile(" + url + ")");
  return body;
}

std::string PictureServerRoot() {
  const char* root = std::getenv("TAVRIN_TEST_HTTP_ROOT");
  if (!root || !*root) {
    throw std::runtime_error("TAVRIN_TEST_HTTP_ROOT is not set: run these tests through scripts/test-windows.sh");
  }
  return root;
}

std::uint64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Value(now);
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("opening " + path);
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("creating " + path);
  DWORD wrote = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  CloseHandle(file);
  if (!ok || wrote != bytes.size()) Fail("writing " + path);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) != FALSE;
}

std::string MadeUpBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2463534242u ^ (seed * 2654435761u);
  for (char& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<char>(state);
  }
  return bytes;
}

TempFolder::TempFolder() {
  char base[MAX_PATH + 1] = {};
  if (!GetTempPathA(sizeof base, base)) Fail("GetTempPathA");
  for (unsigned attempt = 0;; ++attempt) {
    std::string candidate = std::string(base) + "tavrin-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount()) + "-" + std::to_string(attempt);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 100) Fail("CreateDirectoryA(" + candidate + ")");
  }
}

TempFolder::~TempFolder() {
  for (const std::string& name : FileNames()) {
    const std::string file = path_ + "\\" + name;
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(file.c_str());
  }
  RemoveDirectoryA(path_.c_str());
}

std::vector<std::string> TempFolder::FileNames() const {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace wine_cache
