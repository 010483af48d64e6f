#pragma once
// Replacing a file whole or not at all: the new contents go to a temporary file in the same
// folder, which is renamed over the target only once everything was written and flushed. A
// failure at any point leaves the old file as it was and removes the temporary file.
#include <string>
#include <string_view>

class AtomicFileWriter {
 public:
  // Creates the temporary file beside target. Raises NumberedError when it cannot.
  explicit AtomicFileWriter(std::string target);
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Appends bytes. Raises NumberedError when they cannot be written whole.
  void Write(std::string_view bytes);
  // Flushes the contents to disk and renames the temporary file over the target. Raises
  // NumberedError on failure; the target then keeps its old contents.
  void Commit();

  const std::string& TemporaryPath() const { return tempPath_; }

 private:
  void CloseHandleQuietly();

  std::string target_;
  std::string tempPath_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool committed_ = false;
};
