#include "widgets/ErrorReport.h"

#include <new>

#include "base/NumberedError.h"
#include "widgets/NativeText.h"

QString ErrorLocation(const QString& form, const QString& procedure) {
  return form + QLatin1Char('.') + procedure + QStringLiteral(" ( Sub ) ");
}

QString ErrorReportText(int number, const QString& description, const QString& location, int line) {
  QString text = QStringLiteral("錯誤編號 : ") + QString::number(number) + QStringLiteral(" \r\n");
  text += QStringLiteral("描述 : ") + description + QStringLiteral("\r\n");
  text += QStringLiteral("發生位置 : ") + location + QStringLiteral("\r\n");
  if (line != 0) text += QStringLiteral("行號 : ") + QString::number(line) + QLatin1Char('.');
  return text;
}

int ErrorNumberOf(const std::exception& error) {
  if (const auto* numbered = dynamic_cast<const NumberedError*>(&error)) return numbered->Number();
  if (dynamic_cast<const std::bad_alloc*>(&error)) return NumberedError::kOutOfMemory;
  return NumberedError::kInvalidProcedureCall;
}

QString ErrorReportText(const std::exception& error, const QString& location) {
  return ErrorReportText(ErrorNumberOf(error), FromNative(error.what()), location);
}
