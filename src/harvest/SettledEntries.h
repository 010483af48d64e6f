#pragma once
// Entries whose harvest decision cannot change until the entry itself changes: those without an
// address, those that fail the extension, size or time tests, which nothing but the entry and the
// pass's settings decide, and those whose address the capture has already harvested (its keys are
// only ever added to). The walk has the enumeration mark them, and a later pass of the same capture
// with the same settings is not handed them again, which leaves its outcome as it was: each of
// them would have been ignored without any effect.
#include <cstdint>
#include <string>

#include "base/CacheTime.h"

namespace settled_entries {

// The context of a pass of this capture (the serial of its harvested keys) with these settings and
// the UTC offset in force now (the time test compares local times). 0, so that nothing is passed
// over, when the last pass ended by an error: the pass after an error is complete. The entry
// harvest marks what it decided for good in the capture session (MarkEntryDecided).
std::uint64_t ContextFor(std::uint64_t capture, const std::string& extensionList, std::int32_t minimumSizeKb,
                         const DateValue& captureStart, bool lastPassEndedByError);

}  // namespace settled_entries
