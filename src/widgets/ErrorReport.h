#pragma once
// The text of the error report that handlers with an error trap show, built in one place:
// "錯誤編號 : " number, "描述 : " description, "發生位置 : " location, each piece ended by CR LF,
// and the line number only when there is one.
#include <QString>
#include <exception>

// "frmMain.cmdStart_Click ( Sub ) " and the like.
QString ErrorLocation(const QString& form, const QString& procedure);

QString ErrorReportText(int number, const QString& description, const QString& location, int line = 0);

// The number of a raised error: a NumberedError carries its own; anything else gets the number of
// its kind.
int ErrorNumberOf(const std::exception& error);
// The report of a raised error; its description is in the system's 8-bit encoding.
QString ErrorReportText(const std::exception& error, const QString& location);
