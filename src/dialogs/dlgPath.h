#pragma once
// The folder chooser: a modal dialog in which the user picks the destination folder from a drive
// list and a folder list, or types it, and can create a new folder below the one shown.
//
// Use: create one, set strPath, exec() it, then read blnCancel (TruthValue) and, when that is
// false, strPath. Every use takes a new instance; it keeps nothing between uses.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <functional>

#include "dialogs/DriveListBox.h"
#include "dialogs/FolderListBox.h"

class dlgPath : public QDialog {
  Q_OBJECT
 public:
  // owner keeps the dialog above it and out of the task bar; programFolder is where the dialog
  // opens when strPath names no folder (the executable's folder when empty).
  explicit dlgPath(QWidget* owner = nullptr, const QString& programFolder = {});

  // In: the folder to show first. Out, after OK: the text box's text exactly as it stood.
  QString strPath;
  // "True" from loading on; "False" only once OK was pressed.
  QString blnCancel;

  // Loading runs once, just before the dialog is first shown.
  void setVisible(bool visible) override;

  // The handlers, public so that tests drive them as the user would.
  void Form_Load();
  void Drive1_Change();
  void Dir1_Change();
  void Dir1_Click();
  void OKButton_Click();
  void CancelButton_Click();
  void cmdCreateFolder_Click();

  const QString& ProgramFolder() const { return programFolder_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  enum class StepOutcome { Done, Ignored, Aborted };

  void CreateControls();
  void CentreOnScreen();
  // Opens the selected drive's folder in the folder list; raises when the drive cannot be read.
  void OpenDriveFolder();
  // Sets the text box, the drive list and the folder list to folder, running the change handlers.
  void ShowFolder(const QString& folder);
  // Runs one step of the new-folder command under its error trap: on an error, the error report
  // with Abort, Retry and Ignore; Retry runs the step again.
  StepOutcome Trapped(const std::function<void()>& step);

  QString programFolder_;
  bool loaded_ = false;

  QLabel* Label2 = nullptr;
  QLineEdit* txtFolder = nullptr;
  QLabel* Label1 = nullptr;
  DriveListBox* Drive1 = nullptr;
  FolderListBox* Dir1 = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* cmdCreateFolder = nullptr;
};
