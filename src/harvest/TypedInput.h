#pragma once
// What a person types into the extension list and the destination folder, read the way they
// meant it. The window and tavrin-harvest both pass their input through here.
#include <string>
#include <string_view>

// Every item of a ";"-separated extension list written as a bare extension ("jpg") or with its dot
// (".jpg") becomes the pattern "*.jpg". Items that already are patterns ("*.jpg", "*.", "img?.*"),
// empty items and the separators are kept as typed.
std::string ExpandExtensionItems(std::string_view typed);

// On POSIX, a folder that begins with "~" and the separator names a folder in the home folder
// ($HOME, or the account's home when it is unset); anything else is returned unchanged, as it is
// on Windows, where "~" has no such meaning.
std::string ExpandHomeFolder(std::string_view typed);
