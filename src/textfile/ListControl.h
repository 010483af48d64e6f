#pragma once
// What TextFile needs of a list control (a combo box, a list box): the GUI adapts its widgets to it.
#include <string>

class ListControl {
 public:
  virtual ~ListControl() = default;
  // Removes every entry.
  virtual void Clear() = 0;
  // Appends an entry at the end.
  virtual void AddItem(const std::string& text) = 0;
  virtual int ListCount() const = 0;
  // The entry at a 0-based index; empty text for an index that names no entry.
  virtual std::string List(int index) const = 0;
};
