#pragma once
// The folder chooser's design geometry in twips, from the top-left corner of its client area.
#include <array>
#include <string_view>

#include <QSize>

#include "widgets/TwipLayout.h"

inline constexpr int kPathDialogClientWidth = 5856;
inline constexpr int kPathDialogClientHeight = 4464;
inline QSize PathDialogClientSize() {
  return {TwipsToPixels(kPathDialogClientWidth), TwipsToPixels(kPathDialogClientHeight)};
}

// In tab order; the labels never take the focus.
inline constexpr std::array<TwipRect, 8> kPathDialogRects{{
    {"txtFolder", 120, 360, 4332, 372},
    {"Drive1", 120, 1320, 4332, 276},
    {"Dir1", 120, 1680, 4332, 2724},
    {"OKButton", 4560, 360, 1215, 375},
    {"CancelButton", 4560, 840, 1215, 375},
    {"cmdCreateFolder", 4560, 4080, 1215, 375},
    {"Label1", 120, 1080, 2412, 372},
    {"Label2", 120, 120, 2412, 372},
}};

constexpr const TwipRect& PathDialogRect(std::string_view name) { return FindTwipRect(kPathDialogRects, name); }
