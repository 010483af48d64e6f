#include "main/FormEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "main/ProgramFolder.h"

FormEnvironment FormEnvironment::FromApplication() {
  FormEnvironment environment;
  environment.executableFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
  environment.installed = QFileInfo::exists(InstalledMarkerPath(QCoreApplication::applicationDirPath()));
  environment.userDataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  environment.picturesFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (environment.picturesFolder.isEmpty()) environment.picturesFolder = QDir::homePath();
  environment.versionMajor = TAVRIN_VERSION_MAJOR;
  environment.versionMinor = TAVRIN_VERSION_MINOR;
  environment.versionRevision = TAVRIN_VERSION_PATCH;
  environment.author = QStringLiteral(TAVRIN_AUTHOR);
  environment.authorAddress = QStringLiteral(TAVRIN_AUTHOR_ADDRESS);
  environment.discoverCaches = [] { return DiscoverCaches(); };
  // Read in the background: a tick yields what was read and touches the disk only to copy.
  environment.makeUrlCache = [] { return MakeDiscoveredUrlCache(CacheReading::InBackground); };
  return environment;
}
