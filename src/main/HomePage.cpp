#include "main/HomePage.h"

#include "cache/discovery/CacheFormats.h"
#include "widgets/NativeText.h"

namespace {

QString KindName(CacheKind kind) {
  const CacheFormat* format = FindCacheFormat(kind);
  if (!format) return QString();
  return QString::fromUtf8(format->displayName.data(), static_cast<qsizetype>(format->displayName.size()))
      .toHtmlEscaped();
}

}  // namespace

QString HomePageHtml(const std::vector<DiscoveredCache>& caches) {
  QString html = QStringLiteral(
      "<html><body>"
      "<h2>Tavrin</h2>"
      "<p>在上方選好圖片存放資料夾、最小檔案大小與副檔名後按「開始」。"
      "之後您用瀏覽器看網頁時，瀏覽器存入快取的圖片每六秒會被複製到該資料夾，"
      "並在這裡以縮圖顯示。按「停止」結束收集。</p>"
      "<h3>找到的瀏覽器快取</h3>");
  if (caches.empty()) {
    html += QStringLiteral("<p>沒有找到任何瀏覽器快取。請先用瀏覽器開啟網頁，再按「開始」。</p>");
  } else {
    html += QStringLiteral(
        "<table cellspacing='0' cellpadding='3'><tr><th align='left'>種類</th>"
        "<th align='left'>資料夾</th></tr>");
    for (const DiscoveredCache& cache : caches) {
      QString folder = cache.folder.empty() ? QStringLiteral("(系統)") : FromNative(cache.folder).toHtmlEscaped();
      if (!cache.readable) folder += QStringLiteral(" (目前無法讀取)");
      html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(KindName(cache.kind), folder);
    }
    html += QStringLiteral("</table>");
  }
  html += QStringLiteral("</body></html>");
  return html;
}
