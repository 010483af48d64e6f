#pragma once
// Putting a new file in place whole or not at all: the contents go to a temporary file in the
// target's folder, which then either replaces the target or takes a name only while it is free.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/NumberedError.h"
#include "base/VirtualFiles.h"

class FileWriter {
 public:
  // A writer whose file replaces target (ReplaceTarget). The temporary file is
  // ".<name>.tmp-<process>-<sequence>-<attempt>" beside target; when target is an existing file,
  // the new one gets its permissions. Raises NumberedError when the file cannot be created.
  static FileWriter Replacing(const std::string& target);
  enum class Temporary { UnnamedWherePossible, Named };
  // A writer of a new file in folder, named later (PlaceIfNameFree), with the permissions of any
  // new file. On Linux it is an unnamed file of the folder (O_TMPFILE) where the file system allows
  // it, so a crash leaves nothing; otherwise, or with Temporary::Named, it is the hidden
  // ".tavrin-copy-XXXXXX", which this process keeps locked (POSIX: flock; Windows: opened without
  // sharing) while it writes so that RemoveLeftoverCopies leaves it alone. Raises NumberedError
  // when the file cannot be created.
  static FileWriter NewFileIn(const std::string& folder, Temporary temporary = Temporary::UnnamedWherePossible);

  // Removes the temporary file unless it was put in place.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Appends bytes. Raises NumberedError when they cannot be written whole.
  void Write(std::string_view bytes);
  // The first write failure, if there was one: why the sink refused.
  std::optional<NumberedError> Failure() const;
  // A sink that appends; it refuses (returns false) once a write failed (Failure says why), and
  // the finishing call then raises the failure. On Linux it also takes ranges of open files
  // (CopyRange).
  ByteSink Sink();
  // Appends length bytes of the open file fd from offset. On Linux the system copies them
  // (copy_file_range) where both files' file systems allow it; otherwise, and for whatever the
  // system leaves, they are read and written. With readBack, the appended bytes are then read
  // back from this file and handed to it. Elsewhere the bytes are read and written.
  ByteSink::RangeOutcome CopyRange(int fd, std::uint64_t offset, std::uint64_t length,
                                   const ByteSink::ReadBack* readBack = nullptr);

  // Flushes the contents to disk and renames the file over the target given to Replacing, then
  // makes the rename durable. Raises NumberedError on failure; the target then keeps its old
  // contents.
  void ReplaceTarget();

  enum class Placement { Placed, NameTaken };
  // Gives the file the name target if nothing of that name exists; an existing file is never
  // replaced, and after NameTaken another name may be tried. Raises NumberedError for failures
  // other than a taken name.
  Placement PlaceIfNameFree(const std::string& target);

  // The named temporary file; empty for an unnamed one.
  const std::string& TemporaryPath() const { return tempPath_; }
  // The bytes written so far.
  std::uint64_t Size() const { return written_; }
  // True when the file at path holds exactly the bytes written.
  bool SameContentsAs(const std::string& path);
  // Marks the file with the address it came from (and its media type, when not empty), as
  // browsers mark downloads: the user.xdg.origin.url and user.mime_type extended attributes on
  // POSIX, a Zone.Identifier stream once placed on Windows. Best effort: a file system without
  // them simply does not get them.
  void MarkOrigin(const std::string& url, const std::string& mimeType);

 private:
  enum class Kind { Replacement, NewFile };
  // path is the target for a replacement, the folder for a new file.
  FileWriter(Kind kind, const std::string& path, Temporary temporary = Temporary::Named);
  // Creates the unnamed file of folder where the system has them; false to fall back to a name.
  bool CreateUnnamed(const std::string& folder);
  // Creates the file exclusively under nameFor(attempt), trying again while names are taken.
  void Create(const std::function<std::string(unsigned)>& nameFor, bool locked);
  // Gives the new file the permissions of the file it is to replace, where the system has them.
  void TakePermissionsOf(const std::string& target);
  // Gives the finished new file the name target atomically; false when the name is taken.
  bool LinkNewFile(const std::string& target);
  // Appends what the system copies of the range by itself, up to where it stops or refuses: the
  // number of bytes appended (0 where the system has no such copy).
  std::uint64_t CopyInSystem(int fd, std::uint64_t offset, std::uint64_t length);
  // Hands the length bytes of this file from at to readBack; false when readBack refuses them or
  // they cannot be read (the failure then kept).
  bool ReadBackWritten(std::uint64_t at, std::uint64_t length, const ByteSink::ReadBack& readBack);
  // Writes the bytes whole; false (and the failure kept) when a write fails.
  bool WriteAll(const char* data, std::size_t length);
  // One write of at most length bytes: how many were written, or -1 when there is no file or
  // the write failed (the failure then kept).
  std::int64_t WriteOnce(const char* data, std::size_t length);
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
  bool unnamed_ = false;  // an O_TMPFILE file, named only by PlaceIfNameFree
  std::uint64_t written_ = 0;
#ifdef _WIN32
  std::string originUrl_;  // written as the Zone.Identifier stream once placed
#endif
};

// Removes the temporary files that a crashed run of this program left in folder: exactly the names
// ".tavrin-copy-" followed by six letters or digits, that no running writer holds. Returns how many
// it removed.
int RemoveLeftoverCopies(const std::string& folder);

// True when both files can be read and hold the same bytes.
bool SameContents(const std::string& a, const std::string& b);
