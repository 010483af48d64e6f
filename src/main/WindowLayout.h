#pragma once
// The main window's design geometry in twips, from the top-left corner of the client area.
#include <QRect>
#include <QSize>
#include <array>
#include <string_view>

#include "widgets/TwipLayout.h"

inline constexpr int kDesignClientWidth = 9048;
inline constexpr int kDesignClientHeight = 3084;
// The status line runs along the bottom edge, below the pane, the whole width of the window; the
// window's default height grows by its height so that the pane keeps its design size.
inline constexpr int kStatusLineTwips = 330;
inline constexpr int kBrowserPaneTopTwips = 1080;
inline int StatusLineHeight() { return TwipsToPixels(kStatusLineTwips); }
inline QSize DesignClientSize() {
  return {TwipsToPixels(kDesignClientWidth), TwipsToPixels(kDesignClientHeight) + StatusLineHeight()};
}

// In tab order; the labels never take the focus.
inline constexpr std::array<TwipRect, 11> kControlRects{{
    {"cmdSelFolder", 6360, 120, 492, 375},
    {"cmdStart", 6960, 120, 975, 375},
    {"cmdStop", 8040, 120, 975, 375},
    {"txtMinFileSize", 1560, 600, 615, 375},
    {"txtFileExtList", 3840, 600, 5172, 375},
    {"WebBrowser1", 120, 1080, 8892, 2412},
    {"Label1", 120, 120, 1815, 375},
    {"Label2", 2280, 720, 375, 375},
    {"Label3", 120, 720, 1455, 375},
    {"Label4", 2640, 720, 1815, 375},
    {"cboFolder", 1560, 120, 4692, 276},
}};

constexpr const TwipRect& ControlRect(std::string_view name) { return FindTwipRect(kControlRects, name); }

// The browser pane's place after the client area became clientSize: the whole width, from its
// design top down to the status line. A height that would be negative is refused and the previous
// one kept.
QRect FittedBrowserPane(const QRect& current, const QSize& clientSize);
// The status line's place: the whole width, at the bottom of the client area.
QRect FittedStatusLine(const QSize& clientSize);
