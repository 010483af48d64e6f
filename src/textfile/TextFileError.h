#pragma once
// The error that TextFile passes to its caller: a number and a description, as the window's error
// report shows them. The numbers are the ones the harvest core uses for the same failures.
#include <stdexcept>
#include <string>

class TextFileError : public std::runtime_error {
 public:
  TextFileError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
  int Number() const { return number_; }

  static constexpr int kFileNotFound = 53;
  static constexpr int kDeviceIoError = 57;
  static constexpr int kDiskFull = 61;
  static constexpr int kPermissionDenied = 70;
  static constexpr int kPathFileAccessError = 75;
  static constexpr int kPathNotFound = 76;

  // The error for a failed system call, from its errno (POSIX) or GetLastError (Windows) value.
  static TextFileError FromSystemError(int code);

 private:
  int number_;
};
