#include "textfile/LineReader.h"

#include "base/NumberedError.h"
#include "base/RegularFile.h"

void LineReader::Open(const std::string& path, std::uint64_t largestBytes) {
  Close();
  RegularFileOpening opening;
  file_ = OpenRegularFileStream(path, &opening);
  if (!file_) RaiseOpeningError(opening);
  largest_ = largestBytes;
  read_ = 0;
}

bool LineReader::AtEnd() {
  if (!file_) return true;
  const int next = std::getc(file_);
  if (next == EOF) return true;
  std::ungetc(next, file_);
  return false;
}

bool LineReader::ReadLine(std::string& line) {
  line.clear();
  if (!file_) return false;
  int c = Next();
  if (c == EOF) {
    if (std::ferror(file_)) throw NumberedError(NumberedError::kDeviceIoError, "Device I/O error");
    return false;
  }
  for (; c != EOF; c = Next()) {
    if (c == '\r') {
      const int next = Next();
      if (next != '\n' && next != EOF) {
        std::ungetc(next, file_);
        --read_;
      }
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
  // A read error on a folder or a failing device shows only here, at the apparent end.
  if (std::ferror(file_)) throw NumberedError(NumberedError::kDeviceIoError, "Device I/O error");
  return true;
}

int LineReader::Next() {
  const int c = std::getc(file_);
  if (c == EOF) return c;
  if (++read_ > largest_) throw NumberedError(NumberedError::kOverflow, "Overflow");
  return c;
}

void LineReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

std::string ReadWholeFile(const std::string& path, std::uint64_t largestBytes) {
  RegularFileOpening opening;
  std::FILE* file = OpenRegularFileStream(path, &opening);
  if (!file) RaiseOpeningError(opening);
  std::string bytes;
  char chunk[65536];
  bool tooLarge = false;
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    bytes.append(chunk, got);
    if (bytes.size() > largestBytes) {
      tooLarge = true;
      break;
    }
    if (got < sizeof chunk) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (tooLarge) throw NumberedError(NumberedError::kOverflow, "Overflow");
  if (failed) throw NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  return bytes;
}
