#pragma once
// A collection of text items under text keys that compare without regard to letter case.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

class KeyedCollection {
 public:
  KeyedCollection();
  // Distinct for every collection this process creates: a pass tells by it whether the collection
  // it started with (the capture it belongs to) is still the current one.
  std::uint64_t Serial() const { return serial_; }

  // Raises NumberedError when the key is already present.
  void Add(const std::string& item, const std::string& key);
  // Raises NumberedError when the key is absent.
  const std::string& Item(const std::string& key) const;
  bool Contains(const std::string& key) const;
  std::size_t Count() const { return items_.size(); }

 private:
  std::unordered_map<std::string, std::string> items_;  // by folded key
  std::uint64_t serial_;
};
