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
#include <type_traits>

// Receives the bytes of a copy; returns false to stop it (the destination could not be written).
// A sink that writes into a file may also take a range of another open file whole (Ranges), which
// it copies without passing the bytes through this process where the system can.
class ByteSink {
 public:
  using Bytes = std::function<bool(const char* data, std::size_t length)>;
  // Receives the bytes that a range copy put into the destination, read back from it in order, in
  // parts of at most kReadBackPart bytes (a range no longer than that in one part); false says the
  // bytes fail the receiver's check.
  using ReadBack = std::function<bool(const std::uint8_t* data, std::size_t length)>;
  static constexpr std::size_t kReadBackPart = 256 * 1024;
  enum class RangeOutcome {
    Copied,       // every byte of the range was appended (and read back, when asked)
    SourceShort,  // the source ended before the range or could not be read
    Refused,      // the destination could not be written, or the read-back was refused
  };
  // Appends length bytes of the open file descriptor fd from offset; with readBack, then hands
  // the appended bytes to it as the destination holds them.
  using Range =
      std::function<RangeOutcome(int fd, std::uint64_t offset, std::uint64_t length, const ReadBack* readBack)>;

  ByteSink() = default;
  template <typename F>
  requires(!std::is_same_v<std::decay_t<F>, ByteSink> && std::is_invocable_r_v<bool, F&, const char*, std::size_t>)
      ByteSink(F bytes)
      : bytes_(std::move(bytes)) {}
  ByteSink(Bytes bytes, Range range) : bytes_(std::move(bytes)), range_(std::move(range)) {}

  bool operator()(const char* data, std::size_t length) const { return bytes_(data, length); }
  explicit operator bool() const { return static_cast<bool>(bytes_); }
  // The range copy; empty when the sink takes bytes only.
  const Range& Ranges() const { return range_; }

 private:
  Bytes bytes_;
  Range range_;
};

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
