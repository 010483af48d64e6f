#pragma once
// Putting a new file in place whole or not at all: the contents go to a temporary file in the
// target's folder, which then either replaces the target or takes a name only while it is free.
#include <string>
#include <string_view>

#include "base/VirtualFiles.h"

class FileWriter {
 public:
  // A writer whose file replaces target (ReplaceTarget). The temporary file is
  // ".<name>.tmp-<process>-<sequence>-<attempt>" beside target; when target is an existing file,
  // the new one gets its permissions. Raises NumberedError when the file cannot be created.
  static FileWriter Replacing(const std::string& target);
  // A writer of a new file in folder, named later (PlaceIfNameFree). The temporary file is the
  // hidden ".tavrin-copy-XXXXXX" in folder, with the permissions of any new file. Raises
  // NumberedError when the file cannot be created.
  static FileWriter NewFileIn(const std::string& folder);

  // Removes the temporary file unless it was put in place.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Appends bytes. Raises NumberedError when they cannot be written whole.
  void Write(std::string_view bytes);
  // A sink that appends; it refuses (returns false) once a write failed, and the finishing call
  // then raises the failure.
  ByteSink Sink();

  // Flushes the contents to disk and renames the file over the target given to Replacing, then
  // makes the rename durable. Raises NumberedError on failure; the target then keeps its old
  // contents.
  void ReplaceTarget();

  enum class Placement { Placed, NameTaken };
  // Gives the file the name target if nothing of that name exists; an existing file is never
  // replaced, and after NameTaken another name may be tried. Raises NumberedError for failures
  // other than a taken name.
  Placement PlaceIfNameFree(const std::string& target);

  const std::string& TemporaryPath() const { return tempPath_; }

 private:
  enum class Kind { Replacement, NewFile };
  // path is the target for a replacement, the folder for a new file.
  FileWriter(Kind kind, const std::string& path);
  template <typename NameFor>
  void Create(NameFor nameFor);
  // Writes the bytes whole; false (and the failure kept) when a write fails.
  bool WriteAll(const char* data, std::size_t length);
  void Fail(int systemError);
  [[noreturn]] void RaiseFailure() const;
  // Closes the file, first flushing it to disk when durable; raises any write failure.
  void Close(bool durable);

  std::string target_;  // the file to replace; empty for a new file
  std::string tempPath_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool failed_ = false;
  int failure_ = 0;  // the system error of the first failure; 0 for a write that wrote nothing
  bool placed_ = false;
};

// True when both files can be read and hold the same bytes.
bool SameContents(const std::string& a, const std::string& b);
