#pragma once
// Opening a file for reading without ever blocking on it: a FIFO, a device or a socket under a
// file's name would hang the open or the reads for ever, so only regular files are opened.
#include <cstdio>
#include <string>

struct RegularFileOpening {
  // A C runtime file descriptor, read-only and blocking once open; -1 when not opened.
  int fd = -1;
  // Why it was not opened: the system error (errno, or GetLastError on Windows), or 0 with
  // notRegular for a name that is not a regular file (a folder, a FIFO, a device, a socket).
  int systemError = 0;
  bool notRegular = false;
  explicit operator bool() const { return fd >= 0; }
};

// Opens path for reading without waiting for a writer, and keeps the file only when the open
// handle is a regular file. The caller closes fd (close, or _close on Windows).
RegularFileOpening OpenRegularFileForReading(const std::string& path);

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
