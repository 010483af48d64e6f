#include "harvest/KeyedCollection.h"

#include "base/NumberedError.h"
#include "base/PathText.h"

namespace {
std::uint64_t g_lastSerial = 0;  // collections are made on the one thread that runs passes
}  // namespace

KeyedCollection::KeyedCollection() : serial_(++g_lastSerial) {}

void KeyedCollection::Add(const std::string& item, const std::string& key) {
  if (!items_.emplace(LowerCaseText(key), item).second) {
    throw NumberedError(NumberedError::kKeyAlreadyAssociated,
                        "This key is already associated with an element of this collection");
  }
}

const std::string& KeyedCollection::Item(const std::string& key) const {
  const auto found = items_.find(LowerCaseText(key));
  if (found == items_.end()) {
    throw NumberedError(NumberedError::kInvalidProcedureCall, "Invalid procedure call or argument");
  }
  return found->second;
}

bool KeyedCollection::Contains(const std::string& key) const { return items_.count(LowerCaseText(key)) != 0; }
