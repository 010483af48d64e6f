#include "base/PathText.h"

#include <cwctype>
#include <locale>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Decodes one UTF-8 sequence at text[i]; returns its length, 0 when it is not valid UTF-8.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& out) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t length = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (length == 0 || i + length > text.size() || b0 >= 0xF8) return 0;
  char32_t value = b0 & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  out = value;
  return length;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

#ifndef _WIN32
const std::ctype<wchar_t>* WideCaseFacet() {
  static const std::ctype<wchar_t>* facet = []() -> const std::ctype<wchar_t>* {
    try {
      static const std::locale utf8("C.UTF-8");
      return &std::use_facet<std::ctype<wchar_t>>(utf8);
    } catch (const std::exception&) {
      return nullptr;
    }
  }();
  return facet;
}
#endif

}  // namespace

std::string LowerCaseAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

namespace {

// One character lower-cased as the system compares file names: Windows's own mapping of the basic
// plane; elsewhere the C.UTF-8 locale's.
char32_t LowerCharacter(char32_t c) {
#ifdef _WIN32
  if (c > 0xFFFF) return c;
  wchar_t unit = static_cast<wchar_t>(c);
  CharLowerBuffW(&unit, 1);
  return unit < 0xD800 || unit > 0xDFFF ? static_cast<char32_t>(unit) : c;
#else
  const std::ctype<wchar_t>* facet = WideCaseFacet();
  if (!facet || (sizeof(wchar_t) < 4 && c > 0xFFFF)) return c;
  return static_cast<char32_t>(facet->tolower(static_cast<wchar_t>(c)));
#endif
}

}  // namespace

// Whole characters are lower-cased as the system compares file names; bytes that are not valid
// UTF-8 are kept.
std::string LowerCaseText(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return LowerCaseAscii(text);
#ifndef _WIN32
  if (!WideCaseFacet()) return LowerCaseAscii(text);
#endif
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : DecodeUtf8(text, i, c);
    if (length == 1) {
      const char b = text[i];
      out += (b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b;
      i += 1;
    } else if (length == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.append(text.substr(i, length ? length : 1));
      i += length ? length : 1;
    } else {
      AppendUtf8(out, LowerCharacter(c));
      i += length;
    }
  }
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (out.empty() || !IsPathSeparator(out.back())) out += kPathSeparator;
  out += name;
  return out;
}
