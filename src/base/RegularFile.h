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

// The same as a C stream ("rb"); null when not opened, with why in opening (fd is then -1).
std::FILE* OpenRegularFileStream(const std::string& path, RegularFileOpening* opening = nullptr);

// Raises the NumberedError for an opening that failed: the system's error, or "Path/File access
// error" for something that is not a regular file.
[[noreturn]] void RaiseOpeningError(const RegularFileOpening& opening);
