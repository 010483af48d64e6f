// Starts Tavrin's window.
#include <QApplication>
#include <csignal>

#include "main/StandardTranslation.h"
#include "main/frmMain.h"

int main(int argc, char* argv[]) {
#ifdef SIGXFSZ
  // A copy beyond the file size limit fails with its reason instead of ending the window.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavrin"));
  QApplication::setDesktopFileName(QStringLiteral("tavrin"));
  InstallStandardTranslation();
  frmMain window;
  window.show();
  return QApplication::exec();
}
