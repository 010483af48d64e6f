// The destination folder list: the folders that captures were started with, most recent first.
#include "main/frmMain.h"

void frmMain::AddFolder2List(QComboBox* pcbo, const QString& pstrFolder) {
  const int count = pcbo->count();
  for (int i = 0; i < count; ++i) {
    if (pcbo->itemText(i) == pstrFolder) return;  // exact, case-sensitive; the entry keeps its place
  }
  // Inserting into or removing from an editable combo box can replace its typed text; it must stay.
  const QString typed = pcbo->currentText();
  pcbo->insertItem(0, pstrFolder);
  while (pcbo->count() > kMostFolders) pcbo->removeItem(pcbo->count() - 1);
  if (pcbo->isEditable()) pcbo->setEditText(typed);
}
