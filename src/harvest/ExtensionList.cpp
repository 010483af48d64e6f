#include "harvest/ExtensionList.h"

#include "base/PathText.h"

std::string NormalizeExtensionList(std::string_view typed) {
  std::string list = LowerCaseText(typed);
  std::erase(list, ' ');
  // One left-to-right pass over non-overlapping pairs: "..." becomes "..".
  for (std::size_t at = list.find(".."); at != std::string::npos; at = list.find("..", at + 1)) list.erase(at, 1);
  return ";" + list + ";";
}
