// The URL cache contract over the system's WinInet URL cache (Wine's, in CI), entries stored as a
// browser stores them.
#include "WineUrlCache.h"
#include "cache/contract/UrlCacheSourceContract.h"
#include "cache/wininet/WinInetSource.h"

namespace {

class WinInetBackend {
 public:
  WinInetBackend() { wine_cache::EmptyUrlCache(); }
  ~WinInetBackend() { wine_cache::EmptyUrlCache(); }
  std::string UrlFor(const std::string& name) const { return "http://contract.test/" + name; }
  void Put(const std::string& url, const std::string& bytes) {
    wine_cache::AddCacheEntry(url, url.substr(url.rfind('.') + 1), bytes);
  }
  UrlCacheSource& Source() { return source_; }

 private:
  WinInetSource source_;
};

using Sources = ::testing::Types<WinInetBackend>;
INSTANTIATE_TYPED_TEST_SUITE_P(WinInet, UrlCacheSourceContract, Sources);

}  // namespace
