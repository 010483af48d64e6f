#pragma once
// What every URL cache source promises the cache walk, one body run over each source through the
// UrlCacheSource interface alone: each Open yields every entry once, from the first, with a file
// whose copy is the entry's bytes; an entry added shows in the next Open without disturbing an
// open one; an entry settled is passed over only under the context it was settled in, and never
// once it changed. A backend has Put(url, bytes) for a new entry and Source() for the source over
// what it put; tests/cache/contract instantiates the suite for the in-memory, union and browser
// sources, tests/windows for WinInet.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cache/UrlCacheSource.h"
#include "support/SourceReading.h"

template <class Backend>
class UrlCacheSourceContract : public ::testing::Test {
 protected:
  // The URLs one cursor yields, in order, each as often as it yields it.
  static std::vector<std::string> Yielded(CacheEntryCursor& cursor) {
    std::vector<std::string> urls;
    for (CacheEntry entry; cursor.Next(entry);) urls.push_back(entry.url);
    return urls;
  }
  static std::multiset<std::string> Sorted(const std::vector<std::string>& urls) { return {urls.begin(), urls.end()}; }
  std::string Url(const std::string& name) const { return backend_.UrlFor(name); }

  Backend backend_;
};

TYPED_TEST_SUITE_P(UrlCacheSourceContract);

TYPED_TEST_P(UrlCacheSourceContract, EveryOpenYieldsEveryEntryOnceWithItsBytes) {
  const std::map<std::string, std::string> bytes{{this->Url("a.jpg"), std::string(3000, 'a')},
                                                 {this->Url("b.gif"), std::string(5000, 'b')},
                                                 {this->Url("c.png"), std::string(7000, 'c')}};
  for (const auto& [url, body] : bytes) this->backend_.Put(url, body);
  UrlCacheSource& source = this->backend_.Source();
  ASSERT_TRUE(source.WaitUntilCurrentUnless([] { return false; }));
  EXPECT_TRUE(source.Problem().empty()) << source.Problem().Line();

  // Two cursors at once, each from the first entry.
  auto first = source.Open();
  auto second = source.Open();
  CacheEntry entry;
  ASSERT_TRUE(first->Next(entry));
  const std::vector<std::string> all = this->Yielded(*second);
  std::vector<std::string> rest = this->Yielded(*first);
  rest.insert(rest.begin(), entry.url);
  std::multiset<std::string> expected;
  for (const auto& item : bytes) expected.insert(item.first);
  EXPECT_EQ(this->Sorted(all), expected);
  EXPECT_EQ(this->Sorted(rest), expected);

  for (const auto& [url, listed] : ListByUrl(source)) {
    SCOPED_TRACE(url);
    EXPECT_EQ(listed.size, bytes.at(url).size());
    EXPECT_NE(listed.lastAccess.Value(), 0u);
    EXPECT_EQ(CopyOut(listed.localPath), bytes.at(url));
  }
}

TYPED_TEST_P(UrlCacheSourceContract, AnEntryAddedShowsInTheNextOpenOnly) {
  this->backend_.Put(this->Url("a.jpg"), std::string(3000, 'a'));
  this->backend_.Put(this->Url("b.jpg"), std::string(3000, 'b'));
  UrlCacheSource& source = this->backend_.Source();
  source.WaitUntilCurrent();
  auto open = source.Open();
  CacheEntry entry;
  ASSERT_TRUE(open->Next(entry));
  this->backend_.Put(this->Url("c.jpg"), std::string(3000, 'c'));
  source.WaitUntilCurrent();
  // The open cursor goes on without repeating what it yielded; whether it meets the new entry is
  // the source's affair.
  std::vector<std::string> urls = this->Yielded(*open);
  urls.push_back(entry.url);
  EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()).size(), urls.size());
  EXPECT_EQ(ListByUrl(source).count(this->Url("c.jpg")), 1u);
}

TYPED_TEST_P(UrlCacheSourceContract, SettledEntriesArePassedOverOnlyUnderTheirContext) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) this->backend_.Put(this->Url(name), std::string(3000, *name));
  UrlCacheSource& source = this->backend_.Source();
  source.WaitUntilCurrent();
  constexpr std::uint64_t kContext = 7;
  {
    auto cursor = source.Open();
    cursor->UseSettled(kContext);
    for (CacheEntry entry; cursor->Next(entry);) cursor->Settle();
  }
  const auto openUnder = [&](std::uint64_t context) {
    auto cursor = source.Open();
    cursor->UseSettled(context);
    return this->Sorted(this->Yielded(*cursor));
  };
  // Another context, or none, yields every entry.
  EXPECT_EQ(openUnder(kContext + 1).size(), 3u);
  EXPECT_EQ(openUnder(0).size(), 3u);
  EXPECT_EQ(this->Sorted(this->Yielded(*source.Open())).size(), 3u);
  // Under its own context a settled entry may be passed over; a new entry never is.
  EXPECT_LE(openUnder(kContext).size(), 3u);
  this->backend_.Put(this->Url("d.jpg"), std::string(4000, 'd'));
  source.WaitUntilCurrent();
  EXPECT_EQ(openUnder(kContext).count(this->Url("d.jpg")), 1u);
}

REGISTER_TYPED_TEST_SUITE_P(UrlCacheSourceContract, EveryOpenYieldsEveryEntryOnceWithItsBytes,
                            AnEntryAddedShowsInTheNextOpenOnly, SettledEntriesArePassedOverOnlyUnderTheirContext);
