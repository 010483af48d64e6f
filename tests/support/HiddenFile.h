#pragma once
// A name starting with a dot is hidden on POSIX; Windows hides by the file's attribute, which the
// harvest sets on the copies it is still writing. Hide gives a test's dot-named entry both.
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

inline void Hide(const std::string& path) {
#ifdef _WIN32
  SetFileAttributesA(path.c_str(), GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_HIDDEN);
#else
  (void)path;
#endif
}
