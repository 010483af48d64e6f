#pragma once
// The contents of "Settings.txt": "fsizelimit=" and the size field, CR LF, "fextlist=" and the
// extension field, both trimmed of spaces. Reading splits at every CR LF, takes the key before the
// first "=" (lower-cased, not trimmed) and the whole rest as the value; the last occurrence of a
// key wins and unknown keys are ignored.
#include <string>

struct CaptureSettings {
  std::string minFileSize;    // the text of the size field
  std::string extensionList;  // the text of the extension field
};

// Applies the file's contents to settings; fields whose key does not occur keep their text.
void ApplySettingsText(const std::string& fileText, CaptureSettings& settings);

std::string SettingsText(const CaptureSettings& settings);
