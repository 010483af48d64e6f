#include "cache/discovery/CacheLocations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Folders(const std::vector<CandidateFolder>& found, const std::string& root) {
  std::vector<std::string> out;
  for (const CandidateFolder& c : found) out.push_back(c.browser + ": " + fs::relative(c.folder, root).string());
  return out;
}

TEST(CacheLocations, FindsEveryProfileOfEveryInstallKind) {
  TempDir home;
  for (const char* dir : {".cache/chromium/Default/Cache/Cache_Data", ".cache/chromium/Profile 2/Cache/Cache_Data",
                          ".cache/google-chrome/Default/Cache/Cache_Data", ".cache/chromium/Default/Code Cache/js",
                          "snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data",
                          ".var/app/com.brave.Browser/cache/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data",
                          ".cache/opera/Cache/Cache_Data", ".cache/mozilla/firefox/abcd.default-esr/cache2",
                          "snap/firefox/common/.cache/mozilla/firefox/snap.default/cache2", "elsewhere/profile/cache2",
                          ".config/mozilla/firefox"}) {
    fs::create_directories(home / dir);
  }
  // A profile kept outside the default root keeps its cache in the profile folder.
  WriteFile(home / ".config/mozilla/firefox/profiles.ini",
            "[Profile0]\r\nName=other\r\nIsRelative=0\r\nPath=" + (home / "elsewhere/profile") + "\r\n");
  UserRoots roots{home.Path(), home / ".cache", home / ".config", "", ""};
  EXPECT_THAT(
      Folders(CandidateCacheFolders(roots), home.Path()),
      ::testing::ElementsAre(
          "Chromium: .cache/chromium/Default/Cache/Cache_Data", "Chromium: .cache/chromium/Profile 2/Cache/Cache_Data",
          "Chromium: snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data",
          "Google Chrome: .cache/google-chrome/Default/Cache/Cache_Data",
          "Brave: .var/app/com.brave.Browser/cache/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data",
          "Opera: .cache/opera/Cache/Cache_Data", "Firefox: .cache/mozilla/firefox/abcd.default-esr/cache2",
          "Firefox: elsewhere/profile/cache2",
          "Firefox: snap/firefox/common/.cache/mozilla/firefox/snap.default/cache2"));
}

TEST(CacheLocations, HonoursTheCacheHomeAndWindowsLayouts) {
  TempDir root;
  fs::create_directories(root / "xdg/chromium/Default/Cache/Cache_Data");
  fs::create_directories(root / "home/.cache/chromium/Default/Cache/Cache_Data");  // not the cache home
  fs::create_directories(root / "local/Microsoft/Edge/User Data/Default/Cache/Cache_Data");
  fs::create_directories(root / "local/Mozilla/Firefox/Profiles/x.default/cache2");
  UserRoots roots{root / "home", root / "xdg", root / "config", root / "local", root / "roaming"};
  EXPECT_THAT(Folders(CandidateCacheFolders(roots), root.Path()),
              ::testing::ElementsAre("Microsoft Edge: local/Microsoft/Edge/User Data/Default/Cache/Cache_Data",
                                     "Firefox: local/Mozilla/Firefox/Profiles/x.default/cache2",
                                     "Chromium: xdg/chromium/Default/Cache/Cache_Data"));
  UserRoots nobody{};
  EXPECT_TRUE(CandidateCacheFolders(nobody).empty());
}

}  // namespace
