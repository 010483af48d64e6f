#pragma once
// The error that ends a cache pass: a number and a description, as the window's error report shows.
#include <stdexcept>
#include <string>

class HarvestError : public std::runtime_error {
 public:
  HarvestError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
  int Number() const { return number_; }

  // The error numbers in use, chosen to match what users of the old tool know.
  static constexpr int kInvalidProcedureCall = 5;
  static constexpr int kOverflow = 6;
  static constexpr int kTypeMismatch = 13;
  static constexpr int kFileNotFound = 53;
  static constexpr int kFileAlreadyExists = 58;
  static constexpr int kPermissionDenied = 70;
  static constexpr int kPathFileAccessError = 75;
  static constexpr int kPathNotFound = 76;
  static constexpr int kObjectVariableNotSet = 91;

 private:
  int number_;
};
