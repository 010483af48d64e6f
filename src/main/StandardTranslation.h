#pragma once
// Qt's own Traditional Chinese translation, so that the standard buttons and dialogs (OK, Cancel,
// Abort, Retry, Ignore, the input box) speak the window's language.
class QTranslator;

// Loads the translation built into the program, or else the one of the Qt installation, and
// installs it in the application. The translator (owned by the application), or null when neither
// could be loaded.
QTranslator* InstallStandardTranslation();
