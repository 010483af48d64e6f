#pragma once
// A helper bound to one file path: the whole file as one text, the file line by line, and lists
// loaded and saved one line per entry. On Windows the file is in the ANSI code page and the text in
// UTF-8, the text of paths in the core, converted as it is read and written; a line the code page
// cannot hold is left out of the file (a look-alike would name another folder), the other lines are
// written, and the save then raises NumberedError naming the line. Elsewhere the bytes of the file
// are the bytes of the text. Files written read back unchanged. Line writers end every line with
// CR LF. Loads and saves let the user interface process pending events after
// every line.
#include <cstdint>
#include <string>
#include <vector>

#include "textfile/LineReader.h"
#include "textfile/ListControl.h"

class TextFile {
 public:
  // Reading a file larger than this raises NumberedError (overflow): the files kept this way are a
  // few hundred bytes, and a larger one (or a link to an endless device) is not one of them.
  static constexpr std::uint64_t kLargestFile = 1u << 20;

  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Replaces the file by vData. The old file is replaced only once the new one is complete; any
  // failure is swallowed and leaves the old file as it was.
  void Text(const std::string& vData);
  // The same, raising NumberedError on a failure (the old file then stays) and for lines left out.
  void SaveText(const std::string& text) const;

  // Line iteration. GetNextLine_Start opens the file (a failure leaves no file to iterate);
  // GetNextLine reads the next line into Line and returns empty text, whether a line was read, the
  // end was reached or reading failed; GetNextLine_AtEnd tells the caller when nothing is left.
  void GetNextLine_Start();
  const std::string& Line() const { return line_; }
  std::string GetNextLine();
  bool GetNextLine_AtEnd();
  void GetNextLine_End();

  // The whole file; empty text when it is not present. Raises NumberedError when it is present
  // but cannot be read.
  std::string Text() const;

  // Appends every line of the file to colTemp; nothing when the file is not present.
  void LoadCollection(std::vector<std::string>& colTemp) const;
  // Replaces the file by the items, one line each. Raises NumberedError; the old file then stays.
  void SaveCollection(const std::vector<std::string>& colTemp) const;
  // Clears the control and adds every line of the file as an entry. Raises NumberedError (file
  // not found too); the control keeps what was added before the failure.
  void LoadComboBox(ListControl& Cbo) const;
  // Replaces the file by the control's entries, one line each (not its typed text). Raises
  // NumberedError; the old file then stays.
  void SaveComboBox(const ListControl& Cbo) const;

  void Filename(const std::string& vData) { filename_ = vData; }
  const std::string& Filename() const { return filename_; }

 private:
  static bool FilePresent(const std::string& path);

  std::string filename_;
  std::string line_;
  LineReader iteration_;
};
