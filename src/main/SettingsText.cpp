#include "main/SettingsText.h"

#include <string_view>

#include "base/PathText.h"
#include "main/CaptureRules.h"
#include "widgets/FieldText.h"

void ApplySettingsText(const std::string& fileText, CaptureSettings& settings) {
  std::string_view rest = fileText;
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    const std::string_view piece = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);

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
