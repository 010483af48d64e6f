#include "cache/browser/EntryFileName.h"

#include <array>
#include <utility>

#include "base/PathText.h"
#include "base/SafeFileName.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX sequences become their byte; a "%" not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The path of a URL without scheme, authority, query and fragment.
std::string_view PathOf(std::string_view url) {
  url = url.substr(0, url.find('#'));
  url = url.substr(0, url.find('?'));
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return url;
  const std::size_t path = url.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view() : url.substr(path);
}

bool HasExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && dot + 1 < name.size();
}

}  // namespace

std::string ExtensionForContentType(std::string_view contentType) {
  contentType = contentType.substr(0, contentType.find(';'));
  while (!contentType.empty() && (contentType.front() == ' ' || contentType.front() == '\t'))
    contentType.remove_prefix(1);
  while (!contentType.empty() && (contentType.back() == ' ' || contentType.back() == '\t'))
    contentType.remove_suffix(1);
  const std::string type = LowerCaseAscii(contentType);
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 40> kExtensions{{
      {"image/jpeg", "jpg"},
      {"image/jpg", "jpg"},
      {"image/pjpeg", "jpg"},
      {"image/png", "png"},
      {"image/apng", "png"},
      {"image/gif", "gif"},
      {"image/webp", "webp"},
      {"image/avif", "avif"},
      {"image/bmp", "bmp"},
      {"image/x-ms-bmp", "bmp"},
      {"image/x-bmp", "bmp"},
      {"image/svg+xml", "svg"},
      {"image/x-icon", "ico"},
      {"image/vnd.microsoft.icon", "ico"},
      {"image/tiff", "tif"},
      {"image/jxl", "jxl"},
      {"image/heic", "heic"},
      {"image/heif", "heif"},
      {"video/x-flv", "flv"},
      {"video/flv", "flv"},
      {"video/mp4", "mp4"},
      {"video/webm", "webm"},
      {"video/ogg", "ogv"},
      {"video/quicktime", "mov"},
      {"video/x-msvideo", "avi"},
      {"video/mp2t", "ts"},
      {"audio/mpeg", "mp3"},
      {"audio/mp4", "m4a"},
      {"audio/ogg", "ogg"},
      {"audio/webm", "weba"},
      {"audio/wav", "wav"},
      {"text/html", "htm"},
      {"text/css", "css"},
      {"text/javascript", "js"},
      {"application/javascript", "js"},
      {"application/json", "json"},
      {"text/plain", "txt"},
      {"application/pdf", "pdf"},
      {"font/woff2", "woff2"},
      {"font/woff", "woff"},
  }};
  for (const auto& [name, extension] : kExtensions) {
    if (type == name) return std::string(extension);
  }
  return {};
}

std::string EntryFileName(std::string_view url, std::string_view contentType) {
  const std::string_view path = PathOf(url);
  const std::size_t slash = path.rfind('/');
  std::string name = PercentDecode(slash == std::string_view::npos ? path : path.substr(slash + 1));
  if (name.empty()) name = "index";
  if (!HasExtension(name)) {
    const std::string extension = ExtensionForContentType(contentType);
    if (!extension.empty()) name += "." + extension;
  }
  return SafeFileName(name);
}

bool IsWebUrl(std::string_view url) {
  const std::string scheme = LowerCaseAscii(url.substr(0, 8));
  return scheme.starts_with("http://") || scheme.starts_with("https://");
}
