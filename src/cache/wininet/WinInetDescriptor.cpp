// The descriptor of the system's WinInet URL cache: it has no folder of its own and is always
// there, so it is never recognised in a folder and is opened without one.
#include "cache/wininet/WinInetSource.h"

namespace {

std::shared_ptr<UrlCacheSource> OpenWinInetCache(const std::string&) { return std::make_shared<WinInetSource>(); }

}  // namespace

const CacheFormat kWinInetFormat{
    CacheKind::WinInet, "wininet", "Windows 網際網路快取 (WinInet)", nullptr, OpenWinInetCache,
};
