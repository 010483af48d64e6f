#pragma once
// The names FileWriter gives its temporary files, shared by its POSIX and Windows halves.
#include <string>
#include <string_view>

namespace file_writer {

// Creation is exclusive, so a name already taken only costs another try; this many tries all
// meeting taken names means something else is wrong.
constexpr unsigned kCreationAttempts = 100;

// The folder part of a path, with its trailing separator; empty for a bare file name.
std::string FolderPrefix(const std::string& path);
// ".<name>.tmp-<process>-<sequence>-<attempt>" beside target: no other writer in this or another
// process picks the same name at the same moment.
std::string ReplacementName(const std::string& target, unsigned attempt);
// ".tavrin-copy-" and six random letters and digits. The name starts with a dot so that folder
// views leave it out, and its prefix lets a later run recognise it as one of ours.
std::string CopyName(const std::string& folder);
// Exactly the names CopyName makes: a harvested picture may well be called ".tavrin-copy-ABCDEF.jpg".
bool IsLeftoverCopyName(std::string_view name);

}  // namespace file_writer
