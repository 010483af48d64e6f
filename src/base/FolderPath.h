#pragma once
// The program's existence test for a path and its creator of missing folders.
#include <string>

// True when a search of the file system for the path finds an entry. The last component may hold
// the wildcards "*" and "?"; a path that ends in the separator is found when it names a folder.
// Blank paths and failed searches give false; nothing is ever raised.
bool PathExists(const std::string& path);

// Creates every missing folder along the path, outermost first, testing each prefix that ends in
// a separator with PathExists. False when a creation failed (the folders made before it remain).
bool CreateFolderPath(std::string path);
