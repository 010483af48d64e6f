#pragma once
// Reads a text file line by line. A line ends at a carriage return; a line feed right after it
// belongs to the same line end. A line feed alone does not end a line, a last line without a line
// end is still read, and a file that ends with a line end yields no extra empty line.
#include <cstdint>
#include <cstdio>
#include <string>

class LineReader {
 public:
  LineReader() = default;
  ~LineReader() { Close(); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Opens the file for reading; only a regular file opens, and nothing waits on it. Reading more
  // than largestBytes raises NumberedError (overflow), as does a file that cannot be opened.
  void Open(const std::string& path, std::uint64_t largestBytes = UINT64_MAX);
  bool IsOpen() const { return file_ != nullptr; }
  // True when no byte is left (or no file is open).
  bool AtEnd();
  // Reads the next line without its line end. Raises NumberedError on a read failure; at the end
  // it leaves line empty and returns false.
  bool ReadLine(std::string& line);
  void Close();

 private:
  int Next();

  std::FILE* file_ = nullptr;
  std::uint64_t largest_ = UINT64_MAX;
  std::uint64_t read_ = 0;
};

// Every byte of the file. Raises NumberedError when the file cannot be opened or read, when it is
// not a regular file, or when it holds more than largestBytes (overflow).
std::string ReadWholeFile(const std::string& path, std::uint64_t largestBytes = UINT64_MAX);
