#pragma once
// A harvest set up as the window sets it up: a receive buffer, an empty key collection, a URL cache
// of entries whose files lie in a cache folder, and an empty destination folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#include "cache/ListCacheSource.h"
#include "cache/UrlCacheEnumeration.h"
#include "harvest/CaptureSession.h"
#include "harvest/cmnWinInet.h"
#include "support/TempDir.h"

inline CacheFileTime FileTimeOf(const DateValue& utc) {
  return CacheFileTime::FromValue(static_cast<std::uint64_t>(utc.Seconds() + 11644473600LL) * 10'000'000ULL);
}

class HarvestFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_time::PinUtcOffsetForTesting(0);
    InitCacheBuffer();
    HarvestedKeys = std::make_unique<KeyedCollection>();
    std::filesystem::create_directories(cacheDir.Path());
    std::filesystem::create_directories(dest);
    session = std::make_unique<CaptureSession>(CaptureWiring{.urlCache = source});
  }
  void TearDown() override {
    session.reset();
    SetPendingEventsHook(nullptr);
    platform_time::UnpinUtcOffset();
  }

  // An entry whose cached file (named fileName) holds contents and was last used secondsAfterStart
  // seconds after the capture started.
  CacheEntry Entry(const std::string& url, const std::string& fileName, const std::string& contents,
                   int secondsAfterStart = 1) {
    CacheEntry entry;
    entry.url = url;
    entry.localPath = cacheDir / fileName;
    WriteFile(entry.localPath, contents);
    entry.size = contents.size();
    entry.lastAccess = FileTimeOf(DateValue::FromSeconds(start.Seconds() + secondsAfterStart));
    return entry;
  }

  void Add(const CacheEntry& entry) { source->Add(entry); }

  void Pass(const std::string& extensions = ";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;", int minimumKb = 0) {
    HarvestCache(extensions, start, dest, minimumKb);
  }

  // The names in the destination folder.
  std::set<std::string> Harvested() const {
    std::set<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dest)) names.insert(item.path().filename().string());
    return names;
  }

  TempDir cacheDir;
  TempDir destRoot;
  std::string dest = destRoot / "dest";
  DateValue start = DateValue::FromFields(2026, 12, 7, 9, 0, 0);
  std::shared_ptr<ListCacheSource> source = std::make_shared<ListCacheSource>();
  std::unique_ptr<CaptureSession> session;
};
