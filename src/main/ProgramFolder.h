#pragma once
// Where the window keeps "Folders.txt" and "Settings.txt", and where it proposes the dated capture
// folder: the executable's folder when it can be written (a portable copy); otherwise, and always
// for an installed copy, the per-user data folder for the files and a "Tavrin" folder in the
// user's Pictures folder for the captures.
#include <QString>

struct ProgramPlaces {
  QString settingsFolder;  // holds the two text files
  QString captureParent;   // the proposed capture folder is a dated folder in here
};

// True when a file can be created in the folder (tried, not guessed from permission bits).
bool FolderIsWritable(const QString& folder);

ProgramPlaces ResolveProgramPlaces(const QString& executableFolder, bool installed, const QString& userDataFolder,
                                   const QString& picturesFolder);

// The file that an installation puts beside the executable's share folder to say "installed".
QString InstalledMarkerPath(const QString& executableFolder);
