#pragma once
// Entries whose copy failed by a fault of their own (damaged, changing while read, a name the
// destination refuses): each is reported once, and tried again only once it changes or after a few
// passes, so that one that keeps failing neither stops the entries after it nor fills every pass's
// report.
#include <cstdint>
#include <string>
#include <unordered_map>

class FailedEntries {
 public:
  // How many passes an entry that failed and did not change waits before it is tried again.
  static constexpr std::uint64_t kPassesBetweenTries = 5;

  // Begins a pass in context (the capture and its destination); another context than the last
  // pass's forgets every failure.
  void BeginPass(std::uint64_t context);
  // True when no entry is remembered as failed: the walk need not tell its entries apart.
  bool None() const { return failures_.empty(); }
  // True when the entry failed before in this version and its next try is not due yet.
  bool HeldBack(const std::string& entry, std::uint64_t version) const;
  // Remembers that the entry failed in this version; true when that is news to report (it had not
  // failed before, or it has changed since).
  bool Failed(const std::string& entry, std::uint64_t version);
  // Forgets the entry: its harvest ended well.
  void Forget(const std::string& entry) { failures_.erase(entry); }

 private:
  struct Failure {
    std::uint64_t version = 0;
    std::uint64_t nextTry = 0;  // the pass from which it is tried again
  };
  std::uint64_t context_ = 0;
  std::uint64_t pass_ = 0;
  std::unordered_map<std::string, Failure> failures_;
};
