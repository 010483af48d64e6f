#pragma once
// The main window: start-up and shut-down, the capture control (Start, Stop, the six-second
// tick), the layout, the destination folder list and the settings file.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "base/CacheTime.h"
#include "harvest/CaptureSession.h"
#include "main/FormEnvironment.h"
#include "main/StatusLine.h"
#include "main/WebBrowserPane.h"

// The window caption: "Tavrin ", the major version, " Build ", minor and revision with at least
// two digits each, then " - " and the credit (with the address in parentheses when there is one).
QString MainWindowCaption(int major, int minor, int revision, const QString& author, const QString& address);

class frmMain : public QWidget {
  Q_OBJECT
 public:
  explicit frmMain(FormEnvironment environment = FormEnvironment::FromApplication(), QWidget* parent = nullptr);
  ~frmMain() override;

  // The most entries an addition leaves in the folder list; a loaded list is kept as it stands.
  static constexpr int kMostFolders = 16;
  // Puts pstrFolder at the top of the list unless an entry is exactly equal to it, then keeps at
  // most 16 entries by dropping the bottom ones. The typed text is left as it is.
  static void AddFolder2List(QComboBox* pcbo, const QString& pstrFolder);

  // The handlers, public so that tests drive them as the user would.
  void cmdStart_Click();
  void cmdStop_Click();
  void cmdSelFolder_Click();
  void Timer1_Timer();
  std::int32_t GetMinFileSize();
  void WebBrowser1_NewWindow2(bool& Cancel);

  // Where "Folders.txt" and "Settings.txt" lie, and where dated folders are proposed.
  const QString& ProgramFolderPath() const { return programFolder_; }
  const QString& CaptureParentPath() const { return captureParent_; }
  bool PassInProgress() const { return passInProgress_; }
  bool Unloaded() const { return unloaded_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void Form_Load();
  void Form_Unload();
  void ReportError(const std::exception& error, const char* procedure);
  void SetInputsEnabled(bool enabled);
  void PendingEvents();

  FormEnvironment environment_;
  // The capture's URL cache, copy observer and pending-events step, for the window's life.
  std::unique_ptr<CaptureSession> session_;
  QString programFolder_;
  QString captureParent_;
  DateValue captureStart_;
  bool busy_ = false;            // the tick's: a pass is running
  bool passInProgress_ = false;  // set around the harvest call only
  bool unloaded_ = false;
  // Written at shut-down only once read (or found missing) at start-up.
  bool saveFolders_ = false;
  bool saveSettings_ = false;

  QPushButton* cmdSelFolder = nullptr;
  QPushButton* cmdStart = nullptr;
  QPushButton* cmdStop = nullptr;
  QLineEdit* txtMinFileSize = nullptr;
  QLineEdit* txtFileExtList = nullptr;
  WebBrowserPane* WebBrowser1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QComboBox* cboFolder = nullptr;
  QTimer* Timer1 = nullptr;
  StatusLine* lblStatus = nullptr;
};
