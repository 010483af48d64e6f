#include "textfile/TextFile.h"

#include "base/FileWriter.h"
#include "base/FolderPath.h"
#include "base/NumberedError.h"
#include "base/PendingEvents.h"

namespace {
constexpr std::string_view kLineEnd = "\r\n";
}  // namespace

bool TextFile::FilePresent(const std::string& path) {
  // The name search: blank paths and failed searches give false, a folder counts as present and
  // wildcards in the last component act as a pattern.
  return PathExists(path);
}

void TextFile::Text(const std::string& vData) {
  try {
    FileWriter writer = FileWriter::Replacing(filename_);
    writer.Write(vData);
    writer.ReplaceTarget();
  } catch (...) {
    // Writing the whole text reports nothing to its caller.
  }
}

std::string TextFile::Text() const {
  if (!FilePresent(filename_)) return {};
  return ReadWholeFile(filename_, kLargestFile);
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
    if (!iteration_.AtEnd()) iteration_.ReadLine(line_);
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
    colTemp.push_back(line);
    ProcessPendingEvents();
  }
}

void TextFile::SaveCollection(const std::vector<std::string>& colTemp) const {
  FileWriter writer = FileWriter::Replacing(filename_);
  // The size is taken at every step: a pending event may change the collection, and an index past
  // its end must never be read.
  for (std::size_t i = 0; i < colTemp.size(); ++i) {
    writer.Write(colTemp[i]);
    writer.Write(kLineEnd);
    ProcessPendingEvents();
  }
  writer.ReplaceTarget();
}

void TextFile::LoadComboBox(ListControl& Cbo) const {
  Cbo.Clear();
  LineReader reader;
  reader.Open(filename_, kLargestFile);
  std::string line;
  while (!reader.AtEnd()) {
    reader.ReadLine(line);
    Cbo.AddItem(line);
    ProcessPendingEvents();
  }
}

void TextFile::SaveComboBox(const ListControl& Cbo) const {
  FileWriter writer = FileWriter::Replacing(filename_);
  const int count = Cbo.ListCount();
  for (int i = 0; i < count; ++i) {
    writer.Write(Cbo.List(i));
    writer.Write(kLineEnd);
    ProcessPendingEvents();
  }
  writer.ReplaceTarget();
}
