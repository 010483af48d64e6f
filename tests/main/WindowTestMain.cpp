// The window tests run inside one QApplication; without a display they use the offscreen platform.
// On Linux they get a D-Bus session bus of their own, so that nothing they do reaches the
// desktop's programs (its file manager) and a test can offer a service of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cstring>
#include <memory>

namespace {

#ifdef TAVRIN_TEST_DBUS
// A bus daemon that activates nothing and lets everyone own and call every name; null without one.
std::unique_ptr<QProcess> StartPrivateBus(QTemporaryFile& config) {
  const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
  if (daemon.isEmpty() || !config.open()) return nullptr;
  config.write(
      "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
      "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
  config.close();
  auto bus = std::make_unique<QProcess>();
  bus->start(daemon, {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1")});
  if (!bus->waitForStarted() || !bus->waitForReadyRead(10000)) return nullptr;
  const QByteArray address = bus->readLine().trimmed();
  if (address.isEmpty()) return nullptr;
  qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  return bus;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
#ifdef TAVRIN_TEST_DBUS
  // Never the desktop's bus: without a daemon of their own the tests run with none.
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  QTemporaryFile config;
  std::unique_ptr<QProcess> bus;
  if (!::testing::GTEST_FLAG(list_tests)) bus = StartPrivateBus(config);
#endif
  const int result = RUN_ALL_TESTS();
#ifdef TAVRIN_TEST_DBUS
  if (bus) {
    bus->kill();
    bus->waitForFinished();
  }
#endif
  return result;
}
