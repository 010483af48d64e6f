#include "cache/discovery/UnionCacheSource.h"

#include <gtest/gtest.h>

#include "cache/ListCacheSource.h"

namespace {

std::shared_ptr<ListCacheSource> Cache(std::initializer_list<const char*> urls) {
  auto cache = std::make_shared<ListCacheSource>();
  for (const char* url : urls) {
    CacheEntry e;
    e.url = url;
    cache->Add(e);
  }
  return cache;
}

std::vector<std::string> Urls(UrlCacheSource& source) {
  std::vector<std::string> urls;
  auto cursor = source.Open();
  CacheEntry e;
  while (cursor->Next(e)) urls.push_back(e.url);
  return urls;
}

TEST(UnionCacheSource, EnumeratesItsMembersInOrderAndFollowsChanges) {
  UnionCacheSource::SourceList members = {Cache({"a1", "a2"}), Cache({}), nullptr, Cache({"c1"})};
  UnionCacheSource all([&] { return members; });
  EXPECT_EQ(Urls(all), (std::vector<std::string>{"a1", "a2", "c1"}));
  members.push_back(Cache({"d1"}));  // a browser first started during the capture
  EXPECT_EQ(Urls(all), (std::vector<std::string>{"a1", "a2", "c1", "d1"}));
  members.clear();
  EXPECT_TRUE(Urls(all).empty());
}

}  // namespace
