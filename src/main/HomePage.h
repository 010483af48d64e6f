#pragma once
// The page that the browser pane shows at start-up, bundled with the program (no network): what
// Tavrin does, and the browser caches that discovery found.
#include <QString>
#include <vector>

#include "cache/discovery/Discovery.h"

inline const QString kHomePageAddress = QStringLiteral("about:tavrin-home");

QString HomePageHtml(const std::vector<DiscoveredCache>& caches);
