#include "main/ProgramFolder.h"

#include <QDir>
#include <QTemporaryFile>

bool FolderIsWritable(const QString& folder) {
  if (folder.isEmpty() || !QDir(folder).exists()) return false;
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tavrin-write-test-XXXXXX")));
  return probe.open();
}

ProgramPlaces ResolveProgramPlaces(const QString& executableFolder, bool installed, const QString& userDataFolder,
                                   const QString& picturesFolder) {
  if (!installed && FolderIsWritable(executableFolder)) return {executableFolder, executableFolder};
  QDir().mkpath(userDataFolder);
  return {QDir::toNativeSeparators(userDataFolder),
          QDir::toNativeSeparators(QDir(picturesFolder).filePath(QStringLiteral("Tavrin")))};
}

QString InstalledMarkerPath(const QString& executableFolder) {
  return QDir(executableFolder).filePath(QStringLiteral("../share/tavrin/installed"));
}
