// The folder chooser's frame and controls: names, captions, places, tab order, focus, and that
// neither Enter nor Esc closes it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "DialogTestSupport.h"

namespace {

class PathDialogLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = LoadedDialog(Q(folder.Path()), Q(folder.Path()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  }
  TempDir folder;
  ScriptedPrompts prompts;
  std::unique_ptr<dlgPath> dialog;
};

}  // namespace

TEST_F(PathDialogLayout, ControlsHaveTheirNamesCaptionsAndPlaces) {
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("選擇資料夾"));
  EXPECT_EQ(Child<QLabel>(*dialog, "Label2")->text(), QStringLiteral("選擇資料夾"));
  EXPECT_EQ(Child<QLabel>(*dialog, "Label1")->text(), QStringLiteral("磁碟機 / 資料夾"));
  EXPECT_EQ(Child<QPushButton>(*dialog, "OKButton")->text(), QStringLiteral("確定"));
  EXPECT_EQ(Child<QPushButton>(*dialog, "CancelButton")->text(), QStringLiteral("取消"));
  EXPECT_EQ(Child<QPushButton>(*dialog, "cmdCreateFolder")->text(), QStringLiteral("新增資料夾"));

  // 15 twips to the pixel, rounded.
  EXPECT_EQ(dialog->size(), QSize(390, 298));
  const std::pair<const char*, QRect> places[] = {
      {"Label2", {8, 8, 161, 25}},         {"txtFolder", {8, 24, 289, 25}},        {"Label1", {8, 72, 161, 25}},
      {"Drive1", {8, 88, 289, 18}},        {"Dir1", {8, 112, 289, 182}},           {"OKButton", {304, 24, 81, 25}},
      {"CancelButton", {304, 56, 81, 25}}, {"cmdCreateFolder", {304, 272, 81, 25}}};
  for (const auto& [name, rect] : places) EXPECT_EQ(Child<QWidget>(*dialog, name)->geometry(), rect) << name;
}

TEST_F(PathDialogLayout, FixedModalFrameWithoutMinimiseOrMaximise) {
  EXPECT_TRUE(dialog->isModal());
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  const Qt::WindowFlags flags = dialog->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
}

TEST_F(PathDialogLayout, TextBoxHasTheFocusFirstAndTabFollowsTheTable) {
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr; }));
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "txtFolder");
  const QStringList named{"txtFolder", "Drive1", "Dir1", "OKButton", "CancelButton", "cmdCreateFolder"};
  QStringList order;
  QWidget* widget = Child<QWidget>(*dialog, "txtFolder");
  for (int steps = 0; steps < 100 && order.size() < named.size(); ++steps, widget = widget->nextInFocusChain()) {
    if ((widget->focusPolicy() & Qt::TabFocus) && named.contains(widget->objectName()) &&
        !order.contains(widget->objectName())) {
      order << widget->objectName();
    }
  }
  EXPECT_EQ(order, named);
  for (const char* label : {"Label1", "Label2"}) EXPECT_EQ(Child<QWidget>(*dialog, label)->focusPolicy(), Qt::NoFocus);
}

TEST_F(PathDialogLayout, EnterAndEscCloseNothing) {
  QLineEdit* text = Child<QLineEdit>(*dialog, "txtFolder");
  text->setFocus();
  QTest::keyClick(text, Qt::Key_Return);
  QTest::keyClick(text, Qt::Key_Enter);
  QTest::keyClick(text, Qt::Key_Escape);
  // After the focus has passed over the buttons, none of them stays the default one.
  for (const char* name : {"OKButton", "CancelButton", "cmdCreateFolder"}) Child<QWidget>(*dialog, name)->setFocus();
  text->setFocus();
  QTest::keyClick(text, Qt::Key_Return);
  QTest::keyClick(Child<QWidget>(*dialog, "Drive1"), Qt::Key_Escape);
  QTest::keyClick(Child<QWidget>(*dialog, "Dir1"), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), 0);
  EXPECT_EQ(dialog->blnCancel, "True");
  EXPECT_TRUE(prompts.inputs.empty());  // Enter did not press "新增資料夾" either

  // Enter on a button that has the focus presses that button.
  QWidget* create = Child<QWidget>(*dialog, "cmdCreateFolder");
  create->setFocus();
  QTest::keyClick(create, Qt::Key_Return);
  EXPECT_EQ(prompts.inputs.size(), 1u);
  QWidget* ok = Child<QWidget>(*dialog, "OKButton");
  ok->setFocus();
  QTest::keyClick(ok, Qt::Key_Enter);
  EXPECT_EQ(dialog->blnCancel, "False");
  EXPECT_FALSE(dialog->isVisible());
}
