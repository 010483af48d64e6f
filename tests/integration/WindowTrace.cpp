// What the window's end-to-end test cannot see from outside, said on standard error: each text the
// status line shows ("status: <text>", UTF-8) and each thumbnail the pane has ready to paint
// ("thumbnail shown: <path>", in the system's 8-bit text). It only watches, through Qt alone: on
// Linux it is preloaded into the real program (LD_PRELOAD), and the static Windows build links it
// beside the program's own main.
#include <QApplication>
#include <QEvent>
#include <QMetaMethod>
#include <QWidget>
#include <cstdio>

namespace {

class WindowTrace : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    // The status line puts its whole text, uncut, in its tooltip each time it changes.
    if (event->type() == QEvent::ToolTipChange && watched->objectName() == QLatin1String("StatusLine")) {
      Say("status: ", static_cast<QWidget*>(watched)->toolTip().toUtf8());
    } else if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
      WatchThumbnails(watched);
    }
    return false;
  }

 public slots:
  void ThumbnailShown(const QString& path) { Say("thumbnail shown: ", path.toLocal8Bit()); }

 private:
  static void Say(const char* what, const QByteArray& text) {
    std::fprintf(stderr, "%s%s\n", what, text.constData());
    std::fflush(stderr);
  }

  // The pane's thumbnail models, found by their signal's name: nothing of the program is linked in.
  void WatchThumbnails(QObject* window) {
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("ThumbnailShown(QString)"));
    for (QObject* child : window->findChildren<QObject*>()) {
      if (child->property("tavrinTraced").toBool()) continue;
      const int signal = child->metaObject()->indexOfSignal("ThumbnailReady(QString)");
      if (signal < 0) continue;
      connect(child, child->metaObject()->method(signal), this, slot);
      child->setProperty("tavrinTraced", true);
    }
  }
};

void InstallWindowTrace() { qApp->installEventFilter(new WindowTrace(qApp)); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWindowTrace)

#include "WindowTrace.moc"
