#pragma once
// The extension list as the user types it ("*.jpg; *.JPEG;*..gif") and as the harvest matches it.
#include <string>
#include <string_view>

inline constexpr std::string_view kDefaultExtensionList = "*.jpg;*.jpeg;*.bmp;*.gif;*.flv";

// Lower case, every space removed, ".." reduced to ".", and ";" put in front and behind: the
// default list becomes ";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;".
std::string NormalizeExtensionList(std::string_view typed);
