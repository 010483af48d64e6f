#pragma once
// What the window tests share: a window in a folder of its own, answered message boxes, cache
// entries that point at real files, and waiting for the event loop.
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <ctime>
#include <functional>
#include <memory>

#include "cache/ListCacheSource.h"
#include "main/frmMain.h"
#include "support/TempDir.h"
#include "widgets/UserPrompts.h"

// Records every message box and answers OK; answers input boxes from a list; records the files
// handed to the system's default program or to its file manager instead of opening them.
class RecordingPrompts : public UserPrompts {
 public:
  RecordingPrompts() { SetPrompts(this); }
  ~RecordingPrompts() override { SetPrompts(nullptr); }
  MessageAnswer MessageBox(QWidget*, const QString& text, MessageButtons) override {
    messages.append(text);
    return MessageAnswer::Ok;
  }
  QString InputBox(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  bool OpenUrl(const QUrl& url) override {
    opened.append(url);
    return true;
  }
  bool ShowInFolder(const QString& path) override {
    shownInFolder.append(path);
    return true;
  }
  QStringList messages;
  QList<QUrl> opened;
  QStringList shownInFolder;
};

// Counts the enumerations that passes open, so a test sees how many passes ran.
class CountingSource : public UrlCacheSource {
 public:
  explicit CountingSource(std::shared_ptr<ListCacheSource> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<CacheEntryCursor> Open() override {
    ++opens;
    return inner_->Open();
  }
  int opens = 0;

 private:
  std::shared_ptr<ListCacheSource> inner_;
};

inline FormEnvironment TestEnvironment(const TempDir& folder, std::shared_ptr<UrlCacheSource> cache = nullptr) {
  FormEnvironment environment;
  std::filesystem::create_directories(folder.Path("program"));
  environment.executableFolder = QString::fromStdString(folder.Path("program"));
  environment.userDataFolder = QString::fromStdString(folder.Path("data"));
  environment.picturesFolder = QString::fromStdString(folder.Path("pictures"));
  environment.versionMajor = 2007;
  environment.versionMinor = 7;
  environment.versionRevision = 22;
  environment.author = QStringLiteral("Tester");
  environment.authorAddress = QStringLiteral("https://example.org");
  environment.discoverCaches = [] { return std::vector<DiscoveredCache>{}; };
  if (!cache) cache = std::make_shared<ListCacheSource>();
  environment.makeUrlCache = [cache] { return cache; };
  return environment;
}

template <typename T>
T* Control(QWidget& window, const char* name) {
  T* control = window.findChild<T*>(QLatin1String(name));
  if (!control) throw std::runtime_error(std::string("no control ") + name);
  return control;
}

// Processes events until the condition holds or the time is up; the condition's last answer.
inline bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > milliseconds) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A cached picture: a real file in the cache folder, last accessed an hour from now (so after
// any capture start) and addressed by url.
inline CacheEntry CachedFile(const std::string& localPath, const std::string& url, const std::string& bytes) {
  WriteFile(localPath, bytes);
  CacheEntry entry;
  entry.url = url;
  entry.localPath = localPath;
  entry.size = bytes.size();
  const std::uint64_t unixSeconds = static_cast<std::uint64_t>(std::time(nullptr)) + 3600;
  entry.lastAccess = CacheFileTime::FromValue((unixSeconds + 11644473600ull) * 10000000ull);
  return entry;
}

// The bytes of a small real JPEG picture, different for each seed.
inline std::string JpegBytes(int seed) {
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(QColor::fromHsv((seed * 47) % 360, 200, 200));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG");
  return bytes.toStdString();
}
