// The Windows branches of the core, on the platform's own calls: pointer probes over protected
// pages, the file writer's hidden temporaries, name searches, folder creation on drive paths,
// path names with drive letters, the kernel32 time conversions, and names and folders kept whole
// in any ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>

#include "WineUrlCache.h"
#include "base/CacheTime.h"
#include "base/FileSystemObject.h"
#include "base/FileWriter.h"
#include "base/FolderPath.h"
#include "base/NumberedError.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "harvest/cmnWinInet.h"
#include "memory/GuardedMemory.h"
#include "memory/clsMemMgt.h"
#include "support/CacheFixtures.h"
#include "support/TempDir.h"
#include "textfile/TextFile.h"

namespace {

// Two pages: the first readable and writable, the second with the given protection.
class TwoPages {
 public:
  explicit TwoPages(DWORD secondProtection) {
    block_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(block_ + kPage, kPage, secondProtection, &old);
  }
  ~TwoPages() { VirtualFree(block_, 0, MEM_RELEASE); }
  char* First() const { return block_; }
  char* Second() const { return block_ + kPage; }
  std::uintptr_t At(const char* p) const { return reinterpret_cast<std::uintptr_t>(p); }
  static constexpr std::size_t kPage = 4096;

 private:
  char* block_;
};

TEST(GuardedMemoryOnWindows, ProbesFollowPageProtection) {
  TwoPages noAccess(PAGE_NOACCESS);
  EXPECT_TRUE(guarded::CanRead(noAccess.At(noAccess.First()), TwoPages::kPage));
  EXPECT_FALSE(guarded::CanRead(noAccess.At(noAccess.Second() - 1), 2));
  EXPECT_TRUE(guarded::CanRead(0, 0));
  TwoPages readOnly(PAGE_READONLY);
  EXPECT_TRUE(guarded::CanRead(readOnly.At(readOnly.Second()), TwoPages::kPage));
  EXPECT_FALSE(guarded::CanWrite(readOnly.At(readOnly.Second()), 1));
  EXPECT_TRUE(guarded::CanWrite(readOnly.At(readOnly.First()), TwoPages::kPage));
}

TEST(GuardedMemoryOnWindows, StringsStopAtTheirEndOrAtTheFirstUnreadableByte) {
  TwoPages pages(PAGE_NOACCESS);
  char* tail = pages.Second() - 3;
  std::memcpy(tail, "ab", 3);
  EXPECT_EQ(guarded::BoundedStringLength(pages.At(tail), 100), std::optional<std::size_t>(2));
  tail[2] = 'c';  // no terminator before the unreadable page
  EXPECT_EQ(guarded::BoundedStringLength(pages.At(tail), 100), std::nullopt);
  EXPECT_EQ(guarded::BoundedStringLength(pages.At(tail), 3), std::optional<std::size_t>(3));
}

TEST(MemoryBlockOnWindows, CommitsZeroedMemoryAndSkipsBadCopies) {
  clsMemMgt block;
  block.Allocate(8192);
  ASSERT_NE(block.Handle(), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.Handle()), 8192), std::string(8192, '\0'));
  block.WriteTo(reinterpret_cast<std::uintptr_t>("picture"), 8);
  TwoPages readOnly(PAGE_READONLY);
  block.ReadFrom(readOnly.At(readOnly.Second()), 8);  // unwritable destination: nothing happens
  EXPECT_EQ(readOnly.Second()[0], 0);
  char out[8] = {};
  block.ReadFrom(reinterpret_cast<std::uintptr_t>(out), 8);
  EXPECT_STREQ(out, "picture");
  TwoPages noAccess(PAGE_NOACCESS);
  EXPECT_EQ(block.ExtractString(noAccess.At(noAccess.Second()), 10), "");
  block.ReleaseMemory();
  EXPECT_EQ(block.Handle(), 0u);
  block.ReleaseMemory();
}

// Beside the writer's cases in tests/base, which run here too: its temporaries are hidden until
// placed, and the clean-up at start removes a crash's hidden temporary, never a plain file of that
// name.
TEST(FileWriterOnWindows, TemporariesAreHiddenUntilPlaced) {
  wine_cache::TempFolder folder;
  const std::string placed = folder.Path() + "\\pic.jpg";
  {
    FileWriter copy = FileWriter::NewFileIn(folder.Path());
    EXPECT_NE(GetFileAttributesA(copy.TemporaryPath().c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    copy.Write("new picture");
    EXPECT_EQ(copy.PlaceIfNameFree(placed), FileWriter::Placement::Placed);
  }
  EXPECT_EQ(GetFileAttributesA(placed.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  {
    FileWriter settings = FileWriter::Replacing(placed);
    settings.Write("replaced");
    settings.ReplaceTarget();
  }
  EXPECT_EQ(wine_cache::ReadWholeFile(placed), "replaced");
  EXPECT_EQ(GetFileAttributesA(placed.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

  wine_cache::WriteWholeFile(folder.Path() + "\\.tavrin-copy-Ab12Cd", "left");
  SetFileAttributesA((folder.Path() + "\\.tavrin-copy-Ab12Cd").c_str(), FILE_ATTRIBUTE_HIDDEN);
  wine_cache::WriteWholeFile(folder.Path() + "\\.tavrin-copy-ABCDEF", "someone's");
  EXPECT_EQ(RemoveLeftoverCopies(folder.Path()), 1);
  EXPECT_EQ(folder.FileNames(), (std::vector<std::string>{".tavrin-copy-ABCDEF", "pic.jpg"}));
  DeleteFileA((folder.Path() + "\\.tavrin-copy-ABCDEF").c_str());
}

TEST(FolderPathOnWindows, SearchesNamesAndCreatesDrivePaths) {
  wine_cache::TempFolder folder;
  wine_cache::WriteWholeFile(folder.Path() + "\\photo[1].jpg", "x");
  wine_cache::WriteWholeFile(folder.Path() + "\\secret.jpg", "x");
  SetFileAttributesA((folder.Path() + "\\secret.jpg").c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(PathExists(folder.Path() + "\\"));
  EXPECT_TRUE(PathExists(folder.Path() + "\\photo[1].jpg"));
  EXPECT_TRUE(PathExists(folder.Path() + "\\*.jpg"));
  EXPECT_FALSE(PathExists(folder.Path() + "\\secret.jpg"));  // hidden entries are not found
  EXPECT_FALSE(PathExists(folder.Path() + "\\none\\"));
  EXPECT_FALSE(PathExists("   "));
  EXPECT_TRUE(PathExists("C:\\"));

  const std::string deep = folder.Path() + "\\a\\b\\c";
  EXPECT_TRUE(CreateFolderPath(deep));
  EXPECT_TRUE(FileSystemObject().FolderExists(deep));
  EXPECT_TRUE(CreateFolderPath(deep + "\\"));                             // all there already
  EXPECT_FALSE(CreateFolderPath(folder.Path() + "\\photo[1].jpg\\sub"));  // a file in the way
  for (const char* sub : {"\\a\\b\\c", "\\a\\b", "\\a"}) RemoveDirectoryA((folder.Path() + sub).c_str());
}

TEST(FileSystemObjectOnWindows, TakesDrivePathsApart) {
  FileSystemObject fso;
  EXPECT_EQ(fso.GetParentFolderName("C:\\pics\\cat.jpg"), "C:\\pics");
  EXPECT_EQ(fso.GetParentFolderName("C:\\cat.jpg"), "C:\\");
  EXPECT_EQ(fso.GetParentFolderName("C:/pics/cat.jpg"), "C:/pics");
  EXPECT_EQ(fso.GetFileName("C:cat.jpg"), "cat.jpg");
  EXPECT_EQ(fso.GetFileName("C:\\pics\\"), "pics");
  EXPECT_EQ(fso.GetBaseName("C:\\pics\\cat[1].tar.gz"), "cat[1].tar");
  EXPECT_EQ(fso.GetExtensionName("C:\\pics.d\\cat"), "");

  wine_cache::TempFolder folder;
  wine_cache::WriteWholeFile(folder.Path() + "\\five.bin", "12345");
  EXPECT_EQ(fso.GetFile(folder.Path() + "\\five.bin").Size, 5u);
  EXPECT_TRUE(fso.FileExists(folder.Path() + "/five.bin"));
  EXPECT_FALSE(fso.FileExists(folder.Path()));
  EXPECT_TRUE(fso.FolderExists(folder.Path() + "\\"));
  EXPECT_THROW(fso.GetFile(folder.Path()), NumberedError);
}

TEST(CacheTimeOnWindows, Kernel32ConversionsDropMillisecondsAndRejectHugeTimes) {
  // 2026-12-07 01:05:03.999 UTC.
  CacheSystemTime utc;
  utc.wYear = 2026, utc.wMonth = 12, utc.wDay = 7, utc.wHour = 1, utc.wMinute = 5, utc.wSecond = 3,
  utc.wMilliseconds = 999;
  CacheFileTime fileTime;
  ASSERT_TRUE(platform_time::SystemTimeToFileTime(utc, fileTime));
  EXPECT_EQ(fileTime.Value(), 134410791039990000u);

  platform_time::PinUtcOffsetForTesting(8 * 3600);
  EXPECT_EQ(FileTimeToLocalDate(fileTime), DateValue::FromFields(2026, 12, 7, 9, 5, 3));
  // Near midnight the local date is the next day.
  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime::FromValue(fileTime.Value() + 20ull * 3600 * 10'000'000)),
            DateValue::FromFields(2026, 12, 8, 5, 5, 3));
  platform_time::UnpinUtcOffset();

  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime::FromValue(1ull << 63)), DateValue::FromFields(1900, 1, 1, 0, 0, 0));
  // The system's own offset, as the capture start time uses it.
  FILETIME now, local;
  GetSystemTimeAsFileTime(&now);
  FileTimeToLocalFileTime(&now, &local);
  const std::int64_t offset =
      (static_cast<std::int64_t>((std::uint64_t{local.dwHighDateTime} << 32) | local.dwLowDateTime) -
       static_cast<std::int64_t>((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime)) /
      10'000'000;
  EXPECT_NEAR(static_cast<double>(platform_time::CurrentUtcOffsetSeconds()), static_cast<double>(offset), 1.0);
}

// UTF-8 text as a path, and a path's name as UTF-8, by the standard library's own conversions.
std::filesystem::path U8Path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }
std::string U8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

// The long form of an absolute path ("\\?\C:\..."), which the wide calls take at any length.
std::wstring LongForm(const std::string& path) { return L"\\\\?\\" + U8Path(path).native(); }

// The files in folder as the wide calls list them, their names in UTF-8, sorted.
std::vector<std::string> WideFileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((LongForm(folder) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(U8Text(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWide(const std::string& path) {
  std::string bytes;
  if (std::FILE* file = _wfopen(LongForm(path).c_str(), L"rb")) {
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}

// The text in the ANSI code page; nullopt when the code page lacks one of its characters.
std::optional<std::string> AnsiBytes(const std::string& utf8) {
  const std::wstring wide = U8Path(utf8).native();
  char out[512];
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), out,
                                         sizeof out, nullptr, &lossy);
  if (length <= 0 || lossy) return std::nullopt;
  return std::string(out, static_cast<std::size_t>(length));
}

// Run in code pages 1252 and 950 (scripts/test-windows.sh): copies from a browser cache keep the
// names of their addresses, characters of neither code page too, in a folder whose own name is
// Chinese; what no name can hold, and device names, are made safe.
TEST(WideNamesOnWindows, CopiesKeepTheNamesOfTheirAddressesInAnyCodePage) {
  std::printf("ANSI code page %u\n", GetACP());
  // The code page Wine took from the locale's name, when the script says which it must be.
  if (const char* expected = std::getenv("TAVRIN_EXPECT_ACP")) {
    EXPECT_EQ(std::to_string(GetACP()), expected);
  }
  EXPECT_FALSE(AnsiBytes("\xF0\x9F\x98\x80"));  // an emoji is in no ANSI code page
  TempDir temp;
  const std::string cache = temp.Sub("cache2");
  temp.Sub("cache2/entries");
  const std::vector<std::pair<std::string, std::string>> urls = {
      {"http://h/%E6%B8%AF%E5%8F%A3.jpg", "港口.jpg"},
      {"http://h/%C3%A9.jpg", "é.jpg"},
      {"http://h/開始.jpg", "開始.jpg"},
      {"http://h/%F0%9F%98%80.jpg", "\xF0\x9F\x98\x80.jpg"},
      {"http://h/con%20.jpg", "_con .jpg"},
      {"http://h/CONIN$.jpg", "_conin$.jpg"},
      {"http://h/a%3Cb%3E%7C%22.jpg", "a_b___.jpg"},
  };
  std::map<std::string, std::string> expected;
  std::uint32_t seed = 1;
  for (const auto& [url, name] : urls) {
    fixtures::FirefoxEntry entry;
    entry.key = ":" + url;
    entry.body = fixtures::PictureBytes(30000, seed++);
    entry.lastFetched = static_cast<std::uint32_t>(std::time(nullptr));
    fixtures::WriteFirefoxEntry(cache, entry);
    expected[name] = entry.body;
  }
  std::vector<std::string> names;
  for (const auto& [name, body] : expected) names.push_back(name);

  // The same in a folder deeper than MAX_PATH, reached through the long form of its path.
  std::string deep = U8Text(temp.Fs() / U8Path("圖片 港口"));
  for (char level = 'a'; level <= 'i'; ++level) deep += "\\" + std::string(28, level);
  for (const std::string& destination : {U8Text(temp.Fs() / U8Path("圖片 港口")), deep}) {
    ASSERT_TRUE(CreateFolderPath(destination));
    SetUrlCache(std::make_shared<FirefoxCacheSource>(cache));
    InitCacheBuffer();
    HarvestedKeys = std::make_unique<KeyedCollection>();
    HarvestCache(";*.jpg;", DateValue::FromSeconds(DateValue::Now().Seconds() - 60), destination, 0);
    SetUrlCache(nullptr);
    ASSERT_FALSE(LastPassStatistics().endedByError) << LastPassStatistics().error;
    EXPECT_EQ(WideFileNames(destination), names) << destination.size() << " bytes";
    for (const auto& [name, body] : expected) EXPECT_TRUE(ReadWide(destination + "\\" + name) == body) << name;
  }
}

// "Folders.txt" and "Settings.txt" stay in the ANSI code page: a line the code page cannot hold is
// left out and said, the others are saved and read back as they were.
TEST(WideNamesOnWindows, TextFilesStayInTheAnsiCodePage) {
  TempDir temp;
  const std::vector<std::string> folders = {"C:\\pictures\\é", "C:\\圖片\\開始", "C:\\\xF0\x9F\x98\x80", "C:\\plain"};
  std::string bytes;
  std::vector<std::string> kept;
  std::string firstLeftOut;
  for (const std::string& folder : folders) {
    if (const auto ansi = AnsiBytes(folder)) {
      bytes += *ansi + "\r\n";
      kept.push_back(folder);
    } else if (firstLeftOut.empty()) {
      firstLeftOut = folder;
    }
  }
  TextFile file;
  file.Filename(temp.Path("Folders.txt"));
  try {
    file.SaveCollection(folders);
    ADD_FAILURE() << "a folder the code page lacks was saved";
  } catch (const NumberedError& error) {
    EXPECT_NE(std::string(error.what()).find(firstLeftOut), std::string::npos) << error.what();
  }
  EXPECT_EQ(ReadFile(temp.Path("Folders.txt")), bytes);
  std::vector<std::string> loaded;
  file.LoadCollection(loaded);
  EXPECT_EQ(loaded, kept);

  file.Filename(temp.Path("Settings.txt"));
  EXPECT_THROW(file.SaveText("fsizelimit=25\r\nfextlist=*.jpg;*.\xF0\x9F\x98\x80"), NumberedError);
  EXPECT_EQ(ReadFile(temp.Path("Settings.txt")), "fsizelimit=25\r\n");
  file.SaveText("fsizelimit=25\r\nfextlist=*.jpg");
  EXPECT_EQ(file.Text(), "fsizelimit=25\r\nfextlist=*.jpg");
}

}  // namespace
