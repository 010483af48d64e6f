#pragma once
// Draws a thumbnail's name whole below its picture: wrapped at any character when it does not fit
// on one line, and shortened in the middle only when it would take more than two lines. Every
// item gets the same room (picture and two lines), whichever item the view measures.
#include <QStyledItemDelegate>

class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  ThumbnailDelegate(int edge, int width, QObject* parent) : QStyledItemDelegate(parent), edge_(edge), width_(width) {}

  // The picture's edge and the item's width, in pixels.
  void SetSize(int edge, int width) {
    edge_ = edge;
    width_ = width;
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  int edge_;
  int width_;
};

// The lines name takes in width pixels with the font given: at most two, wrapped at any
// character, the middle of the name given up for "…" when two are not enough.
QStringList NameLines(const QString& name, const QFont& font, int width);
