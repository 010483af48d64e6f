#include "main/SettingsText.h"

#include <string_view>

#include "base/PathText.h"
#include "main/CaptureRules.h"
#include "widgets/FieldText.h"

void ApplySettingsText(const std::string& fileText, CaptureSettings& settings) {
  std::string_view rest = fileText;
  while (!rest.empty()) {
#ifdef _WIN32
    const std::size_t end = rest.find("\r\n");
    const std::size_t endLength = 2;
#else
    // Editors here save with LF alone: a line ends at LF, and a CR right before it belongs to it.
    std::size_t end = rest.find('\n');
    std::size_t endLength = 1;
    if (end != std::string_view::npos && end > 0 && rest[end - 1] == '\r') {
      --end;
      ++endLength;
    }
#endif
    const std::string_view piece = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + endLength);

    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string key = LowerCaseText(piece.substr(0, equals));
    const std::string value(piece.substr(equals + 1));
    if (key == "fsizelimit") {
      settings.minFileSize = value;
    } else if (key == "fextlist") {
      settings.extensionList = value;
    }
  }
}

std::string SettingsText(const CaptureSettings& settings) {
  return "fsizelimit=" + TrimSpaces(settings.minFileSize) + "\r\nfextlist=" + TrimSpaces(settings.extensionList);
}
