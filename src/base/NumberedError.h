#pragma once
// The error that every layer raises: a number and a description, as the window's error report
// shows them, and the mapping from a failed system call's error code to one of them.
#include <stdexcept>
#include <string>

class NumberedError : public std::runtime_error {
 public:
  NumberedError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
  int Number() const { return number_; }
  // The errno (POSIX) or GetLastError (Windows) value behind the error; 0 when there is none.
  int SystemError() const { return systemError_; }

  // The error numbers in use, as the window's error report shows them. Each keeps its value (a
  // file not found is always 53), so that a report means the same in every version.
  static constexpr int kInvalidProcedureCall = 5;
  static constexpr int kOverflow = 6;
  static constexpr int kOutOfMemory = 7;
  static constexpr int kTypeMismatch = 13;
  static constexpr int kFileNotFound = 53;
  static constexpr int kDeviceIoError = 57;
  static constexpr int kFileAlreadyExists = 58;
  static constexpr int kDiskFull = 61;
  static constexpr int kDeviceUnavailable = 68;
  static constexpr int kPermissionDenied = 70;
  static constexpr int kPathFileAccessError = 75;
  static constexpr int kPathNotFound = 76;
  static constexpr int kObjectVariableNotSet = 91;
  static constexpr int kKeyAlreadyAssociated = 457;

  // The error for a failed system call, from its errno (POSIX) or GetLastError (Windows) value.
  // It keeps the code, so that a report can give the system's own words for it.
  static NumberedError FromSystemError(int code);

 private:
  int number_;
  int systemError_ = 0;
};

// The system's own words for an errno (POSIX) or GetLastError (Windows) value, as one line.
std::string SystemErrorText(int code);

// The system's last error code (errno, or GetLastError on Windows), read at once after the
// failing call.
int LastSystemError();

// True for a system error that says the process ran out of what all its work needs (memory, file
// descriptors), not that one file is wrong: the same work may succeed later.
bool IsExhaustion(int code);
// True for a system error that refuses one file name (too long, or characters or a device name
// the file system does not take), not the folder it would go in.
bool IsNameRefusal(int code);

// What a report says about an error: the system's words when it came from a system call (or ran
// out of memory), otherwise its description.
std::string ErrorReason(const std::exception& error);
