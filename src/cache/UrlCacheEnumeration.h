#pragma once
// The URL cache enumeration, with the contract of the platform's three calls: a call whose buffer
// is missing or shorter than the entry fails with kErrorInsufficientBuffer and writes the size the
// entry needs into *length; when no entry is left the call fails with kErrorNoMoreItems and leaves
// *length as it was; a successful call writes the entry (CacheEntryRecord and its strings) into
// the buffer and advances.
#include <cstdint>
#include <memory>

#include "cache/UrlCacheSource.h"

struct CacheEnumeration;
using CacheEnumHandle = CacheEnumeration*;

inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;

// searchPattern must be null (all entries). Returns the enumeration handle, or null on failure.
CacheEnumHandle FindFirstUrlCacheEntry(const char* searchPattern, void* buffer, std::uint32_t* length);
bool FindNextUrlCacheEntry(CacheEnumHandle handle, void* buffer, std::uint32_t* length);
bool FindCloseUrlCache(CacheEnumHandle handle);
// The error of the last failed call on this thread.
std::uint32_t LastUrlCacheError();

// Enumerations opened on this thread from now on pass over the entries settled under context
// (0: none is passed over); see CacheEntryCursor.
void SetUrlCacheSettledContext(std::uint64_t context);
// Marks the entry that the handle delivered last as settled under its enumeration's context.
void SettleUrlCacheEntry(CacheEnumHandle handle);

// The URL cache that the calls above walk; none installed means an empty cache.
void SetUrlCache(std::shared_ptr<UrlCacheSource> source);
std::shared_ptr<UrlCacheSource> GetUrlCache();
