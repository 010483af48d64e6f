#include "textfile/TextFile.h"

#include <optional>

#include "base/FileWriter.h"
#include "base/FolderPath.h"
#include "base/NumberedError.h"
#include "base/PendingEvents.h"
#include "base/WidePath.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Writes line to writer as the file holds it, followed by a line end unless it is the text's last
// line without one; a line the file's code page cannot hold is left out, and the first such line
// is noted in refused.
void WriteLine(FileWriter& writer, std::string_view line, std::string& refused, bool lineEnd = true) {
  const std::optional<std::string> stored = AnsiFromUtf8(line);
  if (!stored) {
    if (refused.empty()) refused = std::string(line);
    return;
  }
  writer.Write(*stored);
  if (lineEnd) writer.Write(kLineEnd);
}

void RaiseIfRefused(const std::string& refused, const std::string& path) {
  if (refused.empty()) return;
  throw NumberedError(NumberedError::kPathFileAccessError,
                      path + ": \"" + refused + "\" cannot be written in the system's code page and was left out");
}

}  // namespace

bool TextFile::FilePresent(const std::string& path) {
  // The name search: blank paths and failed searches give false, a folder counts as present and
  // wildcards in the last component act as a pattern.
  return PathExists(path);
}

void TextFile::Text(const std::string& vData) {
  try {
    SaveText(vData);
  } catch (...) {
    // Writing the whole text reports nothing to its caller.
  }
}

void TextFile::SaveText(const std::string& text) const {
  FileWriter writer = FileWriter::Replacing(filename_);
  std::string refused;
  // Line by line, so that a line the code page cannot hold costs only that line.
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(kLineEnd, start);
    if (end == std::string::npos) {
      WriteLine(writer, std::string_view(text).substr(start), refused, false);
      break;
    }
    WriteLine(writer, std::string_view(text).substr(start, end - start), refused);
    start = end + kLineEnd.size();
  }
  writer.ReplaceTarget();
  RaiseIfRefused(refused, filename_);
}

std::string TextFile::Text() const {
  if (!FilePresent(filename_)) return {};
  return Utf8FromAnsi(ReadWholeFile(filename_, kLargestFile));
}

void TextFile::GetNextLine_Start() {
  try {
    iteration_.Open(filename_);
  } catch (...) {
    iteration_.Close();
  }
}

std::string TextFile::GetNextLine() {
  try {
    if (!iteration_.AtEnd() && iteration_.ReadLine(line_)) line_ = Utf8FromAnsi(line_);
  } catch (...) {
  }
  return {};
}

bool TextFile::GetNextLine_AtEnd() { return iteration_.AtEnd(); }

void TextFile::GetNextLine_End() { iteration_.Close(); }

void TextFile::LoadCollection(std::vector<std::string>& colTemp) const {
  if (!FilePresent(filename_)) return;
  LineReader reader;
  reader.Open(filename_, kLargestFile);
  std::string line;
  while (!reader.AtEnd()) {
    reader.ReadLine(line);
    colTemp.push_back(Utf8FromAnsi(line));
    ProcessPendingEvents();
  }
}

void TextFile::SaveCollection(const std::vector<std::string>& colTemp) const {
  FileWriter writer = FileWriter::Replacing(filename_);
  // The size is taken at every step: a pending event may change the collection, and an index past
  // its end must never be read.
  std::string refused;
  for (std::size_t i = 0; i < colTemp.size(); ++i) {
    WriteLine(writer, colTemp[i], refused);
    ProcessPendingEvents();
  }
  writer.ReplaceTarget();
  RaiseIfRefused(refused, filename_);
}

void TextFile::LoadComboBox(ListControl& Cbo) const {
  Cbo.Clear();
  LineReader reader;
  reader.Open(filename_, kLargestFile);
  std::string line;
  while (!reader.AtEnd()) {
    reader.ReadLine(line);
    Cbo.AddItem(Utf8FromAnsi(line));
    ProcessPendingEvents();
  }
}

void TextFile::SaveComboBox(const ListControl& Cbo) const {
  FileWriter writer = FileWriter::Replacing(filename_);
  const int count = Cbo.ListCount();
  std::string refused;
  for (int i = 0; i < count; ++i) {
    WriteLine(writer, Cbo.List(i), refused);
    ProcessPendingEvents();
  }
  writer.ReplaceTarget();
  RaiseIfRefused(refused, filename_);
}
