// tavrin-fetch-urls [--empty-cache] URL...: fetches every address through WinInet, as a browser
// would, so that WinInet keeps each in its URL cache. With --empty-cache, the cache is emptied
// first. Prints each address, the bytes it got and the local file WinInet keeps it in, separated by
// tabs; exits 1 when a fetch fails.
#include <cstdio>
#include <exception>
#include <map>
#include <string>

#include "WineUrlCache.h"

int main(int argc, char** argv) {
  int first = 1;
  try {
    if (argc > 1 && std::string(argv[1]) == "--empty-cache") {
      wine_cache::EmptyUrlCache();
      ++first;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "emptying the URL cache: %s\n", error.what());
    return 1;
  }
  if (first >= argc) return first > 1 ? 0 : 2;

  int status = 0;
  std::map<std::string, std::size_t> fetched;
  for (int i = first; i < argc; ++i) {
    try {
      fetched[argv[i]] = wine_cache::FetchUrl(argv[i]).size();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.what());
      status = 1;
    }
  }
  try {
    std::map<std::string, std::string> localOf;
    for (const wine_cache::RawEntry& entry : wine_cache::ListRawEntries().entries) localOf[entry.url] = entry.localPath;
    for (const auto& [url, size] : fetched) std::printf("%s\t%zu\t%s\n", url.c_str(), size, localOf[url].c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "listing the URL cache: %s\n", error.what());
    status = 1;
  }
  return status;
}
