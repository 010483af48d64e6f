#include "main/FailureTexts.h"

#include <cerrno>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cache/UrlCacheSource.h"
#include "widgets/NativeText.h"

namespace {

#ifndef _WIN32
// The errno values a user meets when copying into a folder, in Traditional Chinese.
const std::pair<int, const char16_t*> kErrnoTexts[] = {
    {ENOENT, u"沒有此檔案或資料夾"},
    {EACCES, u"權限不足"},
    {EPERM, u"不允許此操作"},
    {EROFS, u"唯讀的檔案系統"},
    {ENOSPC, u"裝置上已無可用空間"},
    {EDQUOT, u"超出磁碟配額"},
    {EFBIG, u"檔案太大"},
    {ENAMETOOLONG, u"檔名太長"},
    {EINVAL, u"無效的引數"},
    {EILSEQ, u"無效或不完整的多位元組字元"},
    {EEXIST, u"檔案已存在"},
    {ENOTDIR, u"不是資料夾"},
    {EISDIR, u"是一個資料夾"},
    {EIO, u"輸入/輸出錯誤"},
    {EBUSY, u"裝置或資源忙碌中"},
    {EMFILE, u"開啟的檔案太多"},
    {ENFILE, u"系統中開啟的檔案太多"},
    {ENOMEM, u"記憶體不足"},
    {ELOOP, u"符號連結的層數太多"},
    {ENODEV, u"沒有此裝置"},
    {ENXIO, u"沒有此裝置或位址"},
    {ESTALE, u"過時的檔案控制代碼"},
};
#endif

}  // namespace

QString SystemReasonText(int code) {
#ifdef _WIN32
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  QString text = length ? QString::fromWCharArray(buffer, static_cast<int>(length)).trimmed() : QString();
  if (buffer) LocalFree(buffer);
  return text.isEmpty() ? QStringLiteral("錯誤 %1").arg(code) : text;
#else
  for (const auto& [value, text] : kErrnoTexts) {
    if (value == code) return QString::fromUtf16(text);
  }
  return FromNative(std::strerror(code));
#endif
}

QString ReasonInWindowLanguage(const std::string& systemText) {
  if (systemText == kHeldByBrowserReason) return QStringLiteral("瀏覽器正在使用這個檔案，關閉瀏覽器後才能讀取這個快取");
#ifndef _WIN32
  // The core's reason is strerror's text (in the C locale the window runs the core in).
  for (const auto& [value, text] : kErrnoTexts) {
    if (systemText == std::strerror(value)) return QString::fromUtf16(text);
  }
#endif
  // Windows words it in the user's language already.
  return systemText.empty() ? QStringLiteral("原因不明") : FromNative(systemText);
}

QString PassFailureWhat(const PassStatistics& outcome) {
  switch (outcome.errorKind) {
    case PassErrorKind::FolderMissing:
      return QStringLiteral("目的資料夾不存在");
    case PassErrorKind::DiskFull:
      return QStringLiteral("目的資料夾的磁碟已滿");
    case PassErrorKind::PermissionDenied:
      return QStringLiteral("無法寫入目的資料夾（唯讀或沒有權限）");
    case PassErrorKind::SourceUnreadable:
      return QStringLiteral("無法讀取快取檔案");
    case PassErrorKind::NameRefused:
      return QStringLiteral("目的資料夾不接受這個檔名");
    case PassErrorKind::Exhausted:
      return QStringLiteral("記憶體或檔案代碼不足");
    case PassErrorKind::None:
    case PassErrorKind::Other:
      break;
  }
#ifndef _WIN32
  for (const int refusal : {EINVAL, ENAMETOOLONG, EILSEQ}) {
    if (outcome.errorReason == std::strerror(refusal)) return QStringLiteral("目的資料夾不接受這個檔名");
  }
#endif
  return QStringLiteral("無法複製檔案");
}

QString StartRefusedWhat() { return QStringLiteral("無法開始：無法建立資料夾"); }
