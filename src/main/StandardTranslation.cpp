#include "main/StandardTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator* InstallStandardTranslation() {
#ifdef TAVRIN_EMBEDDED_TRANSLATION
  Q_INIT_RESOURCE(tavrin_translations);
#endif
  auto* translator = new QTranslator(QCoreApplication::instance());
  // The copy built in as a resource comes first: a Windows build carries no translations folder.
  if ((translator->load(QStringLiteral(":/translations/qtbase_zh_TW.qm")) ||
       translator->load(QStringLiteral("qtbase_zh_TW"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) &&
      QCoreApplication::installTranslator(translator)) {
    return translator;
  }
  delete translator;
  return nullptr;
}
