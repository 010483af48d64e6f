// The window's controls: names, captions, places at the design size, fonts, tab order, resizing,
// the status line below the pane and the smallest size the window takes.
#include <gtest/gtest.h>

#include <QFontDatabase>

#include <QFontInfo>
#include <QLabel>

#include "WindowTestSupport.h"
#include "main/WindowLayout.h"

namespace {

class Layout : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<frmMain>(TestEnvironment(folder));
    window->show();
    ASSERT_TRUE(WaitUntil([&] { return window->size() == DesignClientSize(); }));
    pane = Control<QWidget>(*window, "WebBrowser1");
  }
  bool ResizeTo(const QSize& size) {
    window->resize(size);
    return WaitUntil([&] { return window->size() == size; });
  }
  TempDir folder;
  std::unique_ptr<frmMain> window;
  QWidget* pane = nullptr;
};

}  // namespace

TEST_F(Layout, ControlsHaveTheirNamesCaptionsAndDesignPlaces) {
  // The design client area and the status line below it.
  EXPECT_EQ(window->size(), QSize(603, 228));
  EXPECT_EQ(Control<QPushButton>(*window, "cmdSelFolder")->text(), "...");
  EXPECT_EQ(Control<QPushButton>(*window, "cmdStart")->text(), QStringLiteral("開始"));
  EXPECT_EQ(Control<QPushButton>(*window, "cmdStop")->text(), QStringLiteral("停止"));
  EXPECT_EQ(Control<QLabel>(*window, "Label1")->text(), QStringLiteral("圖片存放資料夾:"));
  EXPECT_EQ(Control<QLabel>(*window, "Label2")->text(), "KB");
  EXPECT_EQ(Control<QLabel>(*window, "Label3")->text(), QStringLiteral("圖片大小至少"));
  EXPECT_EQ(Control<QLabel>(*window, "Label4")->text(), QStringLiteral("且 副檔名為"));

  EXPECT_EQ(Control<QWidget>(*window, "cmdStart")->geometry(), QRect(464, 8, 65, 25));
  EXPECT_EQ(Control<QWidget>(*window, "cmdSelFolder")->geometry(), QRect(424, 8, 33, 25));
  EXPECT_EQ(Control<QWidget>(*window, "txtFileExtList")->geometry(), QRect(256, 40, 345, 25));
  EXPECT_EQ(Control<QWidget>(*window, "cboFolder")->geometry(), QRect(104, 8, 313, 18));
  EXPECT_EQ(Control<QWidget>(*window, "Label4")->geometry(), QRect(176, 48, 121, 25));
  // The resize rule has already fitted the pane: whole width, from 1080 twips to the status line.
  EXPECT_EQ(pane->geometry(), QRect(0, 72, 603, 134));
  EXPECT_EQ(Control<QWidget>(*window, "StatusLine")->geometry(), QRect(0, 206, 603, 22));
}

TEST_F(Layout, TheTwoBoxesUseCourierNewNinePointOrItsStandIn) {
  for (const char* name : {"txtMinFileSize", "txtFileExtList"}) {
    const QFont font = Control<QWidget>(*window, name)->font();
    EXPECT_EQ(font.family(), "Courier New") << name;
    EXPECT_EQ(font.pointSize(), 9) << name;
    EXPECT_EQ(font.weight(), QFont::Normal) << name;
    // The offscreen platform of the Windows build has no fonts to draw with; the family asked
    // for is all there is to check there.
    if (!QFontDatabase::families().isEmpty()) {
      EXPECT_TRUE(QFontInfo(font).fixedPitch()) << name << " is drawn with " << QFontInfo(font).family().toStdString();
    }
  }
}

TEST_F(Layout, TabOrderFollowsTheTable) {
  const QStringList named{"cmdSelFolder",   "cmdStart",    "cmdStop",  "txtMinFileSize",
                          "txtFileExtList", "WebBrowser1", "cboFolder"};
  // Each widget in the focus chain stands for the named control that holds it.
  auto owner = [&](QWidget* widget) -> QString {
    for (QWidget* w = widget; w && w != window.get(); w = w->parentWidget()) {
      if (named.contains(w->objectName())) return w->objectName();
    }
    return {};
  };
  QStringList order;
  QWidget* widget = Control<QWidget>(*window, "cmdSelFolder");
  for (int steps = 0; steps < 200 && order.size() < named.size(); ++steps, widget = widget->nextInFocusChain()) {
    if (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisibleTo(window.get())) continue;
    const QString name = owner(widget);
    if (!name.isEmpty() && (order.isEmpty() || order.last() != name) && !order.contains(name)) order << name;
  }
  EXPECT_EQ(order, named);
  for (const char* label : {"Label1", "Label2", "Label3", "Label4"}) {
    EXPECT_EQ(Control<QWidget>(*window, label)->focusPolicy(), Qt::NoFocus) << label;
  }
}

TEST_F(Layout, ResizingMovesOnlyThePane) {
  const QRect stop = Control<QWidget>(*window, "cmdStop")->geometry();
  const QRect extensions = Control<QWidget>(*window, "txtFileExtList")->geometry();
  QWidget* status = Control<QWidget>(*window, "StatusLine");
  ASSERT_TRUE(ResizeTo(QSize(900, 500)));
  EXPECT_EQ(pane->geometry(), QRect(0, 72, 900, 406));
  EXPECT_EQ(status->geometry(), QRect(0, 478, 900, 22));
  EXPECT_EQ(Control<QWidget>(*window, "cmdStop")->geometry(), stop);
  EXPECT_EQ(Control<QWidget>(*window, "txtFileExtList")->geometry(), extensions);

  // No minimum size: a window shorter than the pane's top keeps the pane's last height (a negative
  // one is skipped), and the controls keep their design places, cut off by the window's edge.
  ASSERT_TRUE(ResizeTo(QSize(300, 50)));
  EXPECT_EQ(pane->geometry(), QRect(0, 72, 300, 406));
  EXPECT_EQ(status->geometry(), QRect(0, 28, 300, 22));
  EXPECT_EQ(Control<QWidget>(*window, "cmdStop")->geometry(), stop);
  ASSERT_TRUE(ResizeTo(DesignClientSize()));
  EXPECT_EQ(pane->geometry(), QRect(0, 72, 603, 134));
}

TEST(LayoutRule, PaneFittingSkipsOnlyANegativeHeight) {
  EXPECT_EQ(FittedBrowserPane(QRect(8, 72, 593, 161), QSize(603, 228)), QRect(0, 72, 603, 134));
  EXPECT_EQ(FittedBrowserPane(QRect(0, 72, 603, 134), QSize(0, 0)), QRect(0, 72, 0, 134));
  EXPECT_EQ(TwipsToPixels(9048), 603);
  EXPECT_EQ(TwipsToPixels(3084), 206);
  EXPECT_EQ(TwipsToPixels(276), 18);
}
