#pragma once
// The status line's words for a failure, in the window's language (Traditional Chinese): what
// failed, and the system's reason. On Linux the reason comes from a table of the common errno
// values (the system's own text for the rest); on Windows it is the system's own message text.
#include <QString>
#include <string>

#include "harvest/cmnWinInet.h"

// The system's reason for the error code (errno on Linux, GetLastError on Windows).
QString SystemReasonText(int code);
// The reason the core gave as the system's text, in the window's language where it is known.
QString ReasonInWindowLanguage(const std::string& systemText);
// What a failed pass could not do, naming no path ("無法寫入目的資料夾", ...).
QString PassFailureWhat(const PassStatistics& outcome);
// Start could not make the destination folder.
QString StartRefusedWhat();
