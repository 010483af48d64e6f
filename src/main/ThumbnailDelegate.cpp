#include "main/ThumbnailDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>

namespace {
constexpr int kGap = 2;  // between the picture and the name, and beside the name

QStringList Wrapped(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAnywhere);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    lines.append(text.mid(line.textStart(), line.textLength()));
  }
  layout.endLayout();
  return lines;
}
}  // namespace

QStringList NameLines(const QString& name, const QFont& font, int width) {
  QStringList lines = Wrapped(name, font, width);
  if (lines.size() <= 2) return lines;
  const QFontMetrics metrics(font);
  // Two lines' worth of the name with its middle given up, shrunk until it wraps into two.
  for (int room = 2 * width; room > 0; room -= std::max(1, metrics.averageCharWidth())) {
    lines = Wrapped(metrics.elidedText(name, Qt::ElideMiddle, room), font, width);
    if (lines.size() <= 2) return lines;
  }
  return lines.mid(0, 2);
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {width_, edge_ + 2 * kGap + 2 * option.fontMetrics.lineSpacing()};
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  const QString name = item.text;
  // The picture and the selection as the style draws them, with the room for the name kept.
  item.text.clear();
  item.decorationSize = QSize(edge_, edge_);
  item.decorationAlignment = Qt::AlignHCenter | Qt::AlignTop;
  QStyle* style = item.widget ? item.widget->style() : QApplication::style();
  QStyleOptionViewItem picture = item;
  picture.rect.setHeight(edge_ + kGap);
  style->drawControl(QStyle::CE_ItemViewItem, &picture, painter, item.widget);

  const int lineHeight = item.fontMetrics.lineSpacing();
  const QRect text(item.rect.left() + kGap / 2, item.rect.top() + edge_ + kGap, item.rect.width() - kGap,
                   2 * lineHeight);
  const QStringList lines = NameLines(name, item.font, text.width());
  painter->save();
  const bool selected = item.state & QStyle::State_Selected;
  if (selected) {
    painter->fillRect(text.adjusted(-kGap / 2, 0, kGap / 2, 0), item.palette.brush(QPalette::Highlight));
  }
  painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  painter->setFont(item.font);
  for (int i = 0; i < lines.size(); ++i) {
    painter->drawText(QRect(text.left(), text.top() + i * lineHeight, text.width(), lineHeight),
                      Qt::AlignHCenter | Qt::AlignTop, lines[i]);
  }
  painter->restore();
}
