#pragma once
// Design geometry in twips (1/1440 inch) and its conversion to device-independent pixels (15 twips
// make one); a form's controls are listed in a table of named rectangles.
#include <QRect>
#include <array>
#include <string_view>

constexpr int TwipsToPixels(int twips) { return (twips * 2 + 15) / 30; }  // rounded to the nearest pixel

struct TwipRect {
  std::string_view name;
  int left, top, width, height;
  QRect Pixels() const {
    return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
  }
};

// The rectangle of the control called name in a form's table.
template <std::size_t N>
constexpr const TwipRect& FindTwipRect(const std::array<TwipRect, N>& table, std::string_view name) {
  for (const TwipRect& rect : table) {
    if (rect.name == name) return rect;
  }
  throw "no such control";
}
