#pragma once
// File names taken from addresses, made safe to create inside the destination folder.
#include <cstddef>
#include <string>
#include <string_view>

// Replaces separators, control characters and characters the platform's file names cannot hold by
// "_", turns "", "." and ".." into "_", makes names the platform takes for a device (Windows:
// "con .jpg", "CONIN$") or for this program's own temporary files (".tavrin-copy-...") plain ones,
// and shortens an over-long name before its extension, never inside a character, so that the
// result is always one plain name in its folder. The name is UTF-8 (elsewhere than on Windows, the
// locale's bytes): on Windows every character is kept that a file name can hold, and a byte that
// is no part of a UTF-8 character becomes "_".
// A name is over-long beyond limitBytes, the folder's limit for one name (FileNameLimitIn; 0 for
// the usual 255 bytes), less room for a "_N" clash number.
std::string SafeFileName(std::string_view name, std::size_t limitBytes = 0);

// The longest name in bytes that the file system of folder takes for one file (pathconf's
// _PC_NAME_MAX; on Windows the volume's component length); 0 when it cannot be told.
std::size_t FileNameLimitIn(const std::string& folder);
