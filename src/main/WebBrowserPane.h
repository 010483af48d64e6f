#pragma once
// The window's browser pane: a web page (the bundled home page, or a local page) in a text
// browser, or a folder as thumbnails. It never opens a new window: a link that would need one
// (anything but a local file) is offered through NewWindow2, and a request nobody cancels is
// shown in the pane itself. It shows no dialogs of its own.
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTimer>
#include <functional>

#include "main/ThumbnailActions.h"
#include "main/ThumbnailModel.h"

class WebBrowserPane : public QStackedWidget {
  Q_OBJECT
 public:
  explicit WebBrowserPane(QWidget* parent = nullptr);

  // Shows a folder given by its path as thumbnails, the home page for kHomePageAddress, or a page.
  void Navigate2(const QString& address);
  // The address last navigated to.
  const QString& LocationURL() const { return location_; }
  // The pane shows no dialog boxes either way; the property is kept for its callers.
  void SetSilent(bool silent) { silent_ = silent; }
  bool Silent() const { return silent_; }
  // A file just placed at path under its final name (by the harvest): shown at once when it lies in
  // the folder shown, without listing the folder again, and scrolled into view unless the user
  // scrolled, clicked or typed in the folder during the follow pause. An arrival never changes the
  // selection or the current item; when it is not scrolled to, the pictures in view stay where they
  // are, however many rows arrive above them.
  void FileArrived(const QString& path);
  // The follow pause: kFollowPauseMs unless set. It is measured at each arrival, so a pass that
  // takes longer than the pause follows its later arrivals again.
  void SetFollowPause(int milliseconds) { followPauseMs_ = milliseconds; }
  // Gives the keyboard focus to what the pane shows.
  void SetFocus();
  // What the home page is made of; asked at every navigation to it.
  void SetHomePage(std::function<QString()> html) { homePage_ = std::move(html); }

  bool ShowsFolder() const { return currentWidget() == folderView_; }
  QTextBrowser* PageView() const { return pageView_; }
  QListView* FolderView() const { return folderView_; }
  ThumbnailModel* Thumbnails() const { return thumbnails_; }
  ThumbnailActions* Actions() const { return actions_; }
  static constexpr int kFollowPauseMs = 5000;

  // The thumbnails' size (the picture's edge in pixels): Ctrl+wheel and Ctrl+plus/minus change it
  // by kEdgeStep within the bounds, for as long as the pane lives. The first picture in view stays
  // in view.
  static constexpr int kSmallestEdge = 48;
  static constexpr int kDefaultEdge = 96;
  static constexpr int kLargestEdge = 256;
  static constexpr int kEdgeStep = 16;
  int ThumbnailEdge() const { return thumbnails_->ThumbnailEdge(); }
  void SetThumbnailEdge(int edge);
  // The note shown in place of the thumbnails while the folder shown does not exist.
  const QLabel* MissingFolderNote() const { return missingNote_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // The pane is about to open a new window; set *Cancel to refuse.
  void NewWindow2(bool* Cancel);

 private:
  void ShowFolder(const QString& folder);
  void ShowFolderFromTop();
  void ShowPage(const QString& address);
  void LinkActivated(const QUrl& url);
  bool ItemIsVisible(const QModelIndex& index) const;
  void UserMovedInFolder();
  void ScrollToArrival();
  void KeepViewAnchored();
  void RestoreViewAnchor();
  void ShowMissingNote();

  QTextBrowser* pageView_;
  QListView* folderView_;
  ThumbnailModel* thumbnails_;
  ThumbnailActions* actions_;
  QLabel* missingNote_;
  std::function<QString()> homePage_;
  QString location_;
  bool silent_ = false;
  bool userMovedInFolder_ = false;
  QElapsedTimer lastUserMove_;          // invalid until the user moves in the folder shown
  int followPauseMs_ = kFollowPauseMs;  // how long after a user move arrivals are not scrolled to
  QPersistentModelIndex arrival_;       // the newest arrival, until it is scrolled into view
  QTimer arrivalScroll_;
  // The first item in view when rows first came or went since the user last moved, and its
  // distance from the viewport's top: the view is scrolled back to it after every change.
  QPersistentModelIndex anchor_;
  int anchorTop_ = 0;
  int zoomWheel_ = 0;  // Ctrl+wheel turns not yet a whole step
  QTimer anchorRestore_;
};
