#pragma once
// File names taken from addresses, made safe to create inside the destination folder.
#include <string>
#include <string_view>

// Replaces separators, control characters and characters the platform's file names cannot hold by
// "_", turns "", "." and ".." into "_", and shortens an over-long name (keeping its extension and
// room for a "_N" clash number) so that the result is always one plain name in its folder.
std::string SafeFileName(std::string_view name);
