#pragma once
// Reads a text file line by line. A line ends at a carriage return; a line feed right after it
// belongs to the same line end. A line feed alone does not end a line, a last line without a line
// end is still read, and a file that ends with a line end yields no extra empty line.
#include <cstdio>
#include <string>

class LineReader {
 public:
  LineReader() = default;
  ~LineReader() { Close(); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Opens the file for reading. Raises NumberedError when it cannot.
  void Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // True when no byte is left (or no file is open).
  bool AtEnd();
  // Reads the next line without its line end. Raises NumberedError on a read failure; at the end
  // it leaves line empty and returns false.
  bool ReadLine(std::string& line);
  void Close();

 private:
  std::FILE* file_ = nullptr;
};

// Every byte of the file. Raises NumberedError when the file cannot be opened or read.
std::string ReadWholeFile(const std::string& path);
