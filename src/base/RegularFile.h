#pragma once
// Opening a file for reading without ever blocking on it: a FIFO, a device or a socket under a
// file's name would hang the open or the reads for ever, so only regular files are opened.
#include <cstdint>
#include <cstdio>
#include <string>

struct RegularFileOpening {
  // A C runtime file descriptor, read-only; -1 when not opened. On POSIX it keeps O_NONBLOCK, which
  // reads of regular files do not heed.
  int fd = -1;
  // Why it was not opened: the system error (errno, or GetLastError on Windows), or 0 with
  // notRegular for a name that is not a regular file (a folder, a FIFO, a device, a socket).
  int systemError = 0;
  bool notRegular = false;
  // What the check of the open file found (POSIX; zero on Windows): its device, inode number, size
  // and modification time, so that a reader need not ask again.
  bool identified = false;
  std::uint64_t device = 0;
  std::uint64_t id = 0;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  explicit operator bool() const { return fd >= 0; }
};

enum class FinalLink { Follow, Refuse };

// Opens path for reading without waiting for a writer, and keeps the file only when the open
// handle is a regular file: one open and one fstat on POSIX. With FinalLink::Refuse, a symbolic
// link in the path's last part is not followed and counts as no regular file. The caller closes
// fd (close, or _close on Windows).
RegularFileOpening OpenRegularFileForReading(const std::string& path, FinalLink link = FinalLink::Follow);

#ifndef _WIN32
// The same for the file name in the folder open as folderFd (POSIX), which spares the system the
// walk along the folder's path; path, the file's whole path, is what problems are noted under.
RegularFileOpening OpenRegularFileAt(int folderFd, const char* name, const std::string& path, FinalLink link);
#endif

// The system error of the last opening on this thread that failed for want of memory or file
// descriptors (IsExhaustion), and forgets it; 0 for none. Readers that report only "could not
// read" let their caller give the real reason this way.
int TakeOpeningExhaustion();

// A file that could not be opened for a reason other than its absence: it is no regular file, or
// the system refused it (no permission, an I/O error, no descriptor left).
struct OpeningProblem {
  std::string path;
  std::string reason;  // the system's words, or "not a regular file"
  int code = 0;        // the system error whose words reason is; 0 when it is none
  bool empty() const { return path.empty(); }
  // "cannot read <path>: <reason>"
  std::string Line() const { return "cannot read " + path + ": " + reason; }
};

// While it lives, keeps the first such problem of every opening on this thread (those of an outer
// one meanwhile go to this one alone), so that a reader that only says "could not read" can be
// told why and of which file.
class OpeningProblems {
 public:
  OpeningProblems();
  ~OpeningProblems();
  OpeningProblems(const OpeningProblems&) = delete;
  OpeningProblems& operator=(const OpeningProblems&) = delete;
  const OpeningProblem& First() const { return first_; }

 private:
  friend void NoteOpeningProblem(const std::string&, const RegularFileOpening&);
  OpeningProblems* outer_;
  OpeningProblem first_;
};

// The same as a C stream ("rb"); null when not opened, with why in opening (fd is then -1).
std::FILE* OpenRegularFileStream(const std::string& path, RegularFileOpening* opening = nullptr);

// Raises the NumberedError for an opening that failed: the system's error, or "Path/File access
// error" for something that is not a regular file.
[[noreturn]] void RaiseOpeningError(const RegularFileOpening& opening);
