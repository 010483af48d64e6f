#pragma once
// A combo box seen as TextFile's list control. Adding an entry never changes the typed text: an
// empty editable combo box would otherwise take the first entry as its text.
#include <QComboBox>

#include "textfile/ListControl.h"
#include "widgets/NativeText.h"

class ComboListControl : public ListControl {
 public:
  explicit ComboListControl(QComboBox* combo) : combo_(combo) {}
  void Clear() override { combo_->clear(); }
  void AddItem(const std::string& text) override {
    const QString typed = combo_->currentText();
    combo_->addItem(FromNative(text));
    if (combo_->isEditable()) combo_->setEditText(typed);
  }
  int ListCount() const override { return combo_->count(); }
  std::string List(int index) const override { return ToNative(combo_->itemText(index)); }

 private:
  QComboBox* combo_;
};
