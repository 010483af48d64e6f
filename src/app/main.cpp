// Starts Tavrin's window.
#include <QApplication>

#include "main/StandardTranslation.h"
#include "main/frmMain.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavrin"));
  QApplication::setDesktopFileName(QStringLiteral("tavrin"));
  InstallStandardTranslation();
  frmMain window;
  window.show();
  return QApplication::exec();
}
