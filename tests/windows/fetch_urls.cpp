// tavrin-fetch-urls URL...: fetches every address through WinInet, as a browser would, so that
// WinInet keeps each in its URL cache. Prints each address with the bytes it got; exits 1 when a
// fetch fails.
#include <cstdio>
#include <exception>

#include "WineUrlCache.h"

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    try {
      const std::string body = wine_cache::FetchUrl(argv[i]);
      std::printf("%s %zu\n", argv[i], body.size());
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.what());
      status = 1;
    }
  }
  return argc > 1 ? status : 2;
}
