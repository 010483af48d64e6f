#include "main/WindowLayout.h"

QRect FittedBrowserPane(const QRect& current, const QSize& clientSize) {
  QRect fitted = current;
  fitted.moveLeft(0);
  fitted.setWidth(clientSize.width());
  const int height = clientSize.height() - StatusLineHeight() - current.top();
  if (height >= 0) fitted.setHeight(height);
  return fitted;
}

QRect FittedStatusLine(const QSize& clientSize) {
  return {0, clientSize.height() - StatusLineHeight(), clientSize.width(), StatusLineHeight()};
}
