#pragma once
// Writing a file so that it appears whole or not at all, and never in place of another file: the
// contents go to a temporary file in the destination folder, which is then given its final name
// only while that name is free.
#include <string>

#include "base/VirtualFiles.h"

class TempFile {
 public:
  // Creates an empty, hidden temporary file in folder. Raises NumberedError when it cannot.
  explicit TempFile(const std::string& folder);
  // Removes the temporary file unless it was placed.
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // A sink that appends to the file; it refuses (returns false) once a write failed.
  ByteSink Sink();
  // Flushes and closes the file; raises NumberedError when a write failed.
  void Finish();

  enum class Placement { Placed, NameTaken };
  // Gives the finished file the name target if nothing of that name exists; an existing file is
  // never replaced. Raises NumberedError for failures other than a taken name.
  Placement PlaceAt(const std::string& target);

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool failed_ = false;
  bool placed_ = false;
};

// True when both files can be read and hold the same bytes.
bool SameContents(const std::string& a, const std::string& b);
