#pragma once
// Virtual local paths. A cache source whose entries are not files of their own (a browser cache
// keeps header, body and metadata in one file) hands out paths below a folder of its own and
// registers a provider that sizes and copies the entries behind those paths. FileSystemObject
// resolves every path through this registry before it looks at the disk.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Receives the bytes of a copy; returns false to stop it (the destination could not be written).
using ByteSink = std::function<bool(const char* data, std::size_t length)>;

class VirtualFileProvider {
 public:
  virtual ~VirtualFileProvider() = default;
  // The number of bytes that CopyTo writes for the path; empty when the path names no complete
  // entry (any more).
  virtual std::optional<std::uint64_t> SizeOf(const std::string& path) = 0;
  // Writes the whole contents for the path to the sink. False when the entry is gone, changed,
  // incomplete or fails its checks, or the sink refused; the caller then discards what it got.
  virtual bool CopyTo(const std::string& path, const ByteSink& sink) = 0;
};

namespace virtual_files {

// Keeps a provider registered for a folder while it lives.
class Registration {
 public:
  Registration() = default;
  Registration(Registration&& other) noexcept;
  Registration& operator=(Registration&& other) noexcept;
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration();

 private:
  friend Registration Register(std::string, std::shared_ptr<VirtualFileProvider>);
  explicit Registration(std::uint64_t id) : id_(id) {}
  std::uint64_t id_ = 0;
};

// Paths that start with folder and a separator are answered by provider. When several folders
// match, the longest wins.
[[nodiscard]] Registration Register(std::string folder, std::shared_ptr<VirtualFileProvider> provider);

// The provider for a path, or null when the path is an ordinary one.
std::shared_ptr<VirtualFileProvider> ProviderFor(std::string_view path);

}  // namespace virtual_files
