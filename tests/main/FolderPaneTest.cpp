// The folder shown as thumbnails: its order, hidden files kept out, copies shown the moment the
// harvest places them without listing the folder again, and changes made by other programs shown
// after the debounce as row changes that keep the selection.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <QClipboard>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "WindowTestSupport.h"
#include "harvest/cmnWinInet.h"
#include "main/FolderListingModel.h"
#include "main/ThumbnailDelegate.h"
#include "main/ThumbnailModel.h"
#include "support/HiddenFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

#ifdef TAVRIN_TEST_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#endif

namespace {

QStringList Names(const FolderListingModel& model) {
  QStringList names;
  for (int row = 0; row < model.rowCount(); ++row) names.append(model.EntryAt(row).name);
  return names;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool Loaded(FolderListingModel& model) {
  return WaitUntil([&] { return !model.ListingPending(); });
}

}  // namespace

TEST(FolderListing, FoldersFirstThenFilesInNaturalOrderWithoutHiddenEntries) {
  TempDir folder;
  for (const char* name : {"img10.jpg", "img2.jpg", "B.jpg", "a.jpg", ".tavrin-copy.jpg", "img02.jpg"}) {
    WriteFile(folder.Path(name), name);
  }
  Hide(folder.Path(".tavrin-copy.jpg"));
  std::filesystem::create_directories(folder.Path("zoo"));
  std::filesystem::create_directories(folder.Path("Albums"));
  std::filesystem::create_directories(folder.Path(".hidden"));
  Hide(folder.Path(".hidden"));

  FolderListingModel model;
  QSignalSpy loaded(&model, &FolderListingModel::Loaded);
  model.SetFolder(Q(folder.Path()));
  EXPECT_EQ(model.rowCount(), 0);  // listed on a worker thread, shown afterwards
  ASSERT_TRUE(Loaded(model));
  ASSERT_EQ(loaded.count(), 1);
  EXPECT_EQ(Names(model), (QStringList{"Albums", "zoo", "a.jpg", "B.jpg", "img02.jpg", "img2.jpg", "img10.jpg"}));
  EXPECT_TRUE(model.EntryAt(0).isFolder);
  EXPECT_EQ(model.RowOf(Q(folder.Path("zoo"))), 1);
  EXPECT_EQ(model.RowOf(Q(folder.Path("img10.jpg"))), 6);
  EXPECT_EQ(model.RowOf(Q(folder.Path(".tavrin-copy.jpg"))), -1);
  EXPECT_EQ(model.RowOf(Q(folder.Path("missing.jpg"))), -1);
  // The key changes with the contents: a thumbnail of the old picture is not shown for the new.
  const QString key = model.KeyAt(2);
  EXPECT_TRUE(key.startsWith(QDir::fromNativeSeparators(Q(folder.Path("a.jpg"))) + "|5|")) << key.toStdString();

  EXPECT_LT(FolderListingModel::CompareNames("x9", "x10"), 0);
  EXPECT_LT(FolderListingModel::CompareNames("x", "x1"), 0);
  EXPECT_LT(FolderListingModel::CompareNames("Photo", "photo"), 0);  // a tie broken by the exact text
  EXPECT_EQ(FolderListingModel::CompareNames("same", "same"), 0);
}

TEST(FolderListing, AddFileInsertsAtTheSortedPlaceAndIgnoresWhatIsNotShown) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("other"));
  WriteFile(folder.Path("b.jpg"), "b");
  WriteFile(folder.Path("d.jpg"), "d");
  FolderListingModel model;
  model.SetFolder(Q(folder.Path()));
  ASSERT_TRUE(Loaded(model));
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

  WriteFile(folder.Path("c.jpg"), "c");
  model.AddFile(Q(folder.Path("c.jpg")));
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 2);  // after the folder "other" and b.jpg
  EXPECT_EQ(Names(model), (QStringList{"other", "b.jpg", "c.jpg", "d.jpg"}));

  WriteFile(folder.Path(".partial.jpg"), "half");
  Hide(folder.Path(".partial.jpg"));
  model.AddFile(Q(folder.Path(".partial.jpg")));  // hidden: a copy still being written
  WriteFile(folder.Path("other/e.jpg"), "e");
  model.AddFile(Q(folder.Path("other/e.jpg")));  // another folder
  model.AddFile(Q(folder.Path("gone.jpg")));     // not on disk
  EXPECT_EQ(Names(model), (QStringList{"other", "b.jpg", "c.jpg", "d.jpg"}));

  // The same name again, rewritten: the entry is updated in place, its key changes.
  const QString before = model.KeyAt(1);
  WriteFile(folder.Path("b.jpg"), "bigger");
  model.AddFile(Q(folder.Path("b.jpg")));
  EXPECT_EQ(model.rowCount(), 4);
  EXPECT_NE(model.KeyAt(1), before);
  EXPECT_EQ(model.EntryAt(1).size, 6);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(reset.count(), 0);
}

TEST(FolderListing, ChangesByOtherProgramsShowAfterTheDebounceAsRowChangesThatKeepTheSelection) {
  TempDir folder;
  for (const char* name : {"a.jpg", "b.jpg", "keep.jpg", "x.jpg"}) WriteFile(folder.Path(name), name);
  FolderListingModel model;
  model.SetRelistInterval(300);
  model.SetFolder(Q(folder.Path()));
  ASSERT_TRUE(Loaded(model));
  const int listings = model.ListingsStarted();
  QItemSelectionModel selection(&model);
  selection.setCurrentIndex(model.index(2), QItemSelectionModel::SelectCurrent);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

  std::filesystem::remove(folder.Path("a.jpg"));
  std::filesystem::remove(folder.Path("x.jpg"));
  WriteFile(folder.Path("c.jpg"), "c");
  WriteFile(folder.Path(".temp.jpg"), "hidden");
  Hide(folder.Path(".temp.jpg"));
  std::filesystem::create_directories(folder.Path("sub"));
  EXPECT_TRUE(WaitUntil([&] {
    return Names(model) == QStringList{"sub", "b.jpg", "c.jpg", "keep.jpg"};
  })) << Names(model).join(',').toStdString();
  EXPECT_EQ(reset.count(), 0);
  EXPECT_EQ(selection.currentIndex().data().toString(), "keep.jpg");
  EXPECT_TRUE(selection.isSelected(model.index(3)));
  // One burst of changes, one listing (perhaps two when the burst straddled the delay).
  EXPECT_LE(model.ListingsStarted() - listings, 2);

  // A file renamed into place by another program shows too.
  WriteFile(folder.Path(".late.jpg"), "late");
  std::filesystem::rename(folder.Path(".late.jpg"), folder.Path("late.jpg"));
  EXPECT_TRUE(WaitUntil([&] { return model.RowOf(Q(folder.Path("late.jpg"))) >= 0; }));
}

TEST(FolderListing, AFileAddedWhileTheFolderIsBeingListedStays) {
  TempDir folder;
  for (int i = 0; i < 2000; ++i) WriteFile(folder.Path("old" + std::to_string(i) + ".jpg"), "x");
  FolderListingModel model;
  model.SetRelistInterval(200);
  model.SetFolder(Q(folder.Path()));
  // The listing runs; its result has not been applied yet (no events were processed).
  ASSERT_TRUE(model.ListingPending());
  WriteFile(folder.Path("new.jpg"), "new");
  model.AddFile(Q(folder.Path("new.jpg")));
  EXPECT_EQ(model.rowCount(), 1);
  ASSERT_TRUE(Loaded(model));
  EXPECT_EQ(model.rowCount(), 2001);
  EXPECT_GE(model.RowOf(Q(folder.Path("new.jpg"))), 0);
}

// The window: a tick's copies are in the pane as soon as the tick returns, without a listing of
// the folder per copy; the newest arrival is scrolled into view until the user moves and again
// once the pause after the move is over, and never selected.
TEST(FolderPane, ATickShowsEveryCopyAtOnceWithoutListingTheFolderAgain) {
  TempDir folder;
  RecordingPrompts prompts;
  auto cache = std::make_shared<ListCacheSource>();
  std::filesystem::create_directories(folder.Path("cache"));
  constexpr int kNew = 40;
  constexpr int kExisting = 500;
  for (int i = 0; i < kNew; ++i) {
    const std::string name = "new" + std::to_string(i) + ".jpg";
    cache->Add(CachedFile(folder.Path("cache/" + name), "http://pics.example/" + name, JpegBytes(i)));
  }
  const std::string destination = folder.Path("dest");
  std::filesystem::create_directories(destination);
  for (int i = 0; i < kExisting; ++i) WriteFile(destination + "/old" + std::to_string(i) + ".jpg", "old");

  frmMain window(TestEnvironment(folder, cache));
  Control<QLineEdit>(window, "txtMinFileSize")->setText("0");
  window.show();
  Control<QComboBox>(window, "cboFolder")->setEditText(Q(destination));
  window.cmdStart_Click();
  auto* pane = Control<WebBrowserPane>(window, "WebBrowser1");
  FolderListingModel* files = pane->Thumbnails()->Files();
  ASSERT_TRUE(Loaded(*files));
  ASSERT_EQ(files->rowCount(), kExisting);
  const int listings = files->ListingsStarted();
  QSignalSpy reset(files, &QAbstractItemModel::modelReset);

  window.Timer1_Timer();
  EXPECT_EQ(LastPassStatistics().copied, std::uint64_t(kNew));
  EXPECT_EQ(pane->FolderView()->model()->rowCount(pane->FolderView()->rootIndex()), kExisting + kNew);
  EXPECT_GE(files->RowOf(Q(destination + "/new0.jpg")), 0);
  EXPECT_LE(files->ListingsStarted() - listings, 1);
  EXPECT_EQ(reset.count(), 0);

  QListView* view = pane->FolderView();
  auto current = [&] { return view->currentIndex().row(); };
  auto row = [&](const std::string& name) { return files->RowOf(Q(destination + "/" + name)); };
  // The newest arrival is scrolled into view; the selection and the current item are not touched.
  const int newest = row("new" + std::to_string(kNew - 1) + ".jpg");
  EXPECT_TRUE(WaitUntil(
      [&] { return view->viewport()->rect().intersects(view->visualRect(view->model()->index(newest, 0))); }));
  EXPECT_EQ(current(), row("old0.jpg"));
  EXPECT_TRUE(view->selectionModel()->selectedIndexes().isEmpty());

  // The user moves to the top and Ctrl-selects two pictures: arrivals above and below them are
  // listed, but neither the selection, the current item nor the pictures in view move. The pause
  // outlasts the pass however slowly the machine copies (301 copies take seconds under Wine).
  pane->SetFollowPause(10 * 60 * 1000);
  QTest::keyClick(view, Qt::Key_Home);
  ASSERT_EQ(current(), 0);
  const auto centre = [&](int at) { return view->visualRect(view->model()->index(at, 0)).center(); };
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, centre(1));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(2));
  const QString first = files->EntryAt(0).name;
  const QStringList chosen{files->EntryAt(1).name, files->EntryAt(2).name};
  const int top = view->visualRect(view->model()->index(0, 0)).top();
  for (int i = 0; i < 300; ++i) {
    const std::string name = "a" + std::to_string(i) + ".jpg";
    cache->Add(CachedFile(folder.Path("cache/" + name), "http://pics.example/" + name, JpegBytes(i)));
  }
  cache->Add(CachedFile(folder.Path("cache/late.jpg"), "http://pics.example/late.jpg", JpegBytes(99)));
  window.Timer1_Timer();
  EXPECT_EQ(row("late.jpg"), 300);
  const auto selected = [&] {
    QStringList names;
    for (const QModelIndex& index : view->selectionModel()->selectedIndexes()) {
      names.append(files->EntryAt(index.row()).name);
    }
    names.sort();
    return names;
  };
  EXPECT_EQ(selected(), chosen);
  EXPECT_EQ(files->EntryAt(current()).name, chosen[1]);
  const QModelIndex firstNow = view->model()->index(files->RowOf(Q(destination + "/") + first), 0);
  EXPECT_TRUE(WaitUntil([&] { return view->visualRect(firstNow).top() == top; }));

  // The re-listings that the copies cause later find nothing to change: a few for 341 copies (the
  // watcher may fire again while one runs), never one per copy.
  ASSERT_TRUE(WaitUntil([&] { return !files->ListingPending(); }, 10000));
  EXPECT_EQ(files->rowCount(), kExisting + kNew + 301);
  EXPECT_LE(files->ListingsStarted() - listings, 4);

  // Once the pause since the user's last move is over, the newest arrival is followed again, still
  // without being selected or made current.
  pane->SetFollowPause(100);
  QTest::qWait(150);
  cache->Add(CachedFile(folder.Path("cache/zz.jpg"), "http://pics.example/zz.jpg", JpegBytes(7)));
  window.Timer1_Timer();
  const int last = row("zz.jpg");
  ASSERT_EQ(last, files->rowCount() - 1);
  EXPECT_TRUE(
      WaitUntil([&] { return view->viewport()->rect().intersects(view->visualRect(view->model()->index(last, 0))); }));
  EXPECT_EQ(selected(), chosen);
  EXPECT_EQ(files->EntryAt(current()).name, chosen[1]);
}

// Activation (double-click, Enter) shows a folder in the pane and opens a file with the system's
// program; the context menu copies paths and moves files to the recycle bin, Delete and Ctrl+C act
// on the selection, a drag hands the files over; videos get a film icon and animated pictures their
// first frame; a folder removed while shown is said in the pane.
TEST(FolderPane, ItemsActAsInAFileManagerAndUndecodableFilesKeepAPlainIcon) {
  TempDir folder;
  RecordingPrompts prompts;
  std::filesystem::create_directories(folder.Path("shown/inner"));
  WriteFile(folder.Path("shown/clip.flv"), std::string(500, 'v'));
  WriteFile(folder.Path("shown/clip.webm"), std::string(500, 'w'));
  // Two frames, red then blue.
  const unsigned char animation[] = {
      0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x04, 0x00, 0xf0, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x21, 0xf9, 0x04, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x21, 0xff, 0x0b, 0x4e, 0x45, 0x54, 0x53, 0x43, 0x41, 0x50, 0x45,
      0x32, 0x2e, 0x30, 0x03, 0x01, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x02,
      0x04, 0x84, 0x8f, 0x09, 0x05, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00,
      0x04, 0x00, 0x04, 0x00, 0x80, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x02, 0x04, 0x84, 0x8f, 0x09, 0x05, 0x00, 0x3b};
  WriteFile(folder.Path("shown/moving.gif"), std::string(reinterpret_cast<const char*>(animation), sizeof animation));
  WriteFile(folder.Path("shown/inner/p.jpg"), JpegBytes(3));
  WebBrowserPane pane;
  pane.resize(600, 200);
  pane.show();
  pane.Navigate2(Q(folder.Path("shown")));
  ThumbnailModel* thumbnails = pane.Thumbnails();
  ASSERT_TRUE(Loaded(*thumbnails->Files()));
  ASSERT_EQ(thumbnails->rowCount(), 4);  // inner, clip.flv, clip.webm, moving.gif
  EXPECT_TRUE(WaitUntil([&] {
    for (int row = 0; row < 4; ++row) (void)thumbnails->index(row, 0).data(Qt::DecorationRole);
    return thumbnails->DecodesPending() == 0 && thumbnails->HasThumbnail(Q(folder.Path("shown/moving.gif")));
  }));
  EXPECT_FALSE(thumbnails->HasThumbnail(Q(folder.Path("shown/clip.flv"))));
  // A video is a film with its type on it.
  const auto iconImage = [&](int row) {
    return thumbnails->index(row, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(96, 96).toImage();
  };
  EXPECT_EQ(iconImage(1), FilmIcon("FLV", 96).toImage());
  EXPECT_EQ(iconImage(2), FilmIcon("WEBM", 96).toImage());
  EXPECT_NE(FilmIcon("FLV", 96).toImage(), FilmIcon("WEBM", 96).toImage());
  // An animated picture shows its first frame.
  const QImage gif = thumbnails->index(3, 0).data(Qt::DecorationRole).value<QPixmap>().toImage();
  ASSERT_FALSE(gif.isNull());
  EXPECT_EQ(gif.pixelColor(1, 1), QColor(Qt::red));

  emit pane.FolderView()->activated(thumbnails->index(0, 0));
  EXPECT_EQ(QDir::fromNativeSeparators(pane.LocationURL()), QDir::fromNativeSeparators(Q(folder.Path("shown/inner"))));
  ASSERT_TRUE(Loaded(*thumbnails->Files()));
  EXPECT_TRUE(WaitUntil([&] { return thumbnails->HasThumbnail(Q(folder.Path("shown/inner/p.jpg"))); }));

  QListView* view = pane.FolderView();
  const QUrl picture = QUrl::fromLocalFile(Q(folder.Path("shown/inner/p.jpg")));
  const QUrl inner = QUrl::fromLocalFile(Q(folder.Path("shown/inner")));
  // A double-click as the platform delivers it: press, release, then the double-click in place of
  // the second press.
  const QPoint item = view->visualRect(thumbnails->index(0, 0)).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item);
  QMouseEvent doubleClick(QEvent::MouseButtonDblClick, item, view->viewport()->mapToGlobal(item), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &doubleClick);
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_EQ(prompts.opened, (QList<QUrl>{picture, picture}));

  // One file selected: 開啟所在資料夾 hands it to the file manager.
  ThumbnailActions* actions = pane.Actions();
  actions->ContextMenu()->findChild<QAction*>(QStringLiteral("開啟所在資料夾"))->trigger();
  ASSERT_EQ(prompts.shownInFolder.size(), 1);
  EXPECT_EQ(QDir::fromNativeSeparators(prompts.shownInFolder[0]),
            QDir::fromNativeSeparators(Q(folder.Path("shown/inner/p.jpg"))));
  // A right-click on empty space offers the folder itself and nothing else.
  QStringList offered;
  QTimer::singleShot(0, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* entry : menu->actions()) offered.append(entry->objectName());
      menu->close();
    }
  });
  emit view->customContextMenuRequested(QPoint(view->viewport()->width() - 2, view->viewport()->height() - 2));
  EXPECT_EQ(offered, QStringList{QStringLiteral("開啟資料夾")});
  prompts.opened.clear();
  actions->EmptySpaceMenu()->findChild<QAction*>(QStringLiteral("開啟資料夾"))->trigger();
  EXPECT_EQ(prompts.opened, QList<QUrl>{inner});

  // Both files of a folder selected: the actions for one item are off, the others take both.
  WriteFile(folder.Path("shown/inner/q.jpg"), JpegBytes(4));
  thumbnails->Files()->AddFile(Q(folder.Path("shown/inner/q.jpg")));
  view->selectAll();
  const std::unique_ptr<QMenu> menu = actions->ContextMenu();
  auto action = [&](const char* caption) { return menu->findChild<QAction*>(QString::fromUtf8(caption)); };
  EXPECT_FALSE(action("開啟")->isEnabled());
  EXPECT_FALSE(action("開啟所在資料夾")->isEnabled());
  action("複製路徑")->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QDir::toNativeSeparators(Q(folder.Path("shown/inner/p.jpg"))) + "\n" +
                                                      QDir::toNativeSeparators(Q(folder.Path("shown/inner/q.jpg"))));
  // Ctrl+C puts the files themselves on the clipboard, as file managers paste them, copied and not
  // cut; a drag hands the same over, to be copied.
  const QList<QUrl> both{picture, QUrl::fromLocalFile(Q(folder.Path("shown/inner/q.jpg")))};
  const auto expectFiles = [&](const QMimeData* data) {
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), both);
    EXPECT_EQ(data->data("x-special/gnome-copied-files"), "copy\n" + both[0].toEncoded() + "\n" + both[1].toEncoded());
    EXPECT_EQ(data->data("application/x-kde-cutselection"), "0");
  };
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  expectFiles(QGuiApplication::clipboard()->mimeData());
  const std::unique_ptr<QMimeData> dragged(thumbnails->mimeData(view->selectionModel()->selectedIndexes()));
  expectFiles(dragged.get());
  EXPECT_TRUE(view->dragEnabled());
  EXPECT_TRUE(thumbnails->flags(thumbnails->index(0, 0)) & Qt::ItemIsDragEnabled);
  EXPECT_EQ(thumbnails->supportedDragActions(), Qt::CopyAction);
  EXPECT_EQ(view->defaultDropAction(), Qt::CopyAction);
#ifndef _WIN32
  // Into a recycle bin of the test's own, in a data folder that does not exist yet; the view drops
  // the items at once. Delete and Shift+Delete do what the menu does.
  const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folder.Path("data-home")));
  action("移到資源回收筒")->trigger();
  EXPECT_FALSE(std::filesystem::exists(folder.Path("shown/inner/p.jpg")));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("shown/inner/q.jpg")));
  EXPECT_EQ(thumbnails->rowCount(), 0);
  EXPECT_TRUE(std::filesystem::exists(folder.Path("data-home/Trash/files/q.jpg")));
  for (const auto& [name, modifiers] : {std::pair{"r.jpg", Qt::NoModifier}, std::pair{"s.jpg", Qt::ShiftModifier}}) {
    WriteFile(folder.Path(std::string("shown/inner/") + name), JpegBytes(5));
    WriteFile(folder.Path("shown/inner/kept.jpg"), JpegBytes(6));
    thumbnails->Files()->AddFile(Q(folder.Path(std::string("shown/inner/") + name)));
    thumbnails->Files()->AddFile(Q(folder.Path("shown/inner/kept.jpg")));
    view->selectionModel()->setCurrentIndex(
        thumbnails->index(thumbnails->Files()->RowOf(Q(folder.Path(std::string("shown/inner/") + name))), 0),
        QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(view, Qt::Key_Delete, modifiers);
    EXPECT_FALSE(std::filesystem::exists(folder.Path(std::string("shown/inner/") + name))) << name;
    EXPECT_TRUE(std::filesystem::exists(folder.Path(std::string("data-home/Trash/files/") + name))) << name;
    EXPECT_TRUE(std::filesystem::exists(folder.Path("shown/inner/kept.jpg")));
    EXPECT_EQ(thumbnails->rowCount(), 1);
  }
  qputenv("XDG_DATA_HOME", dataHome);
  EXPECT_TRUE(prompts.messages.isEmpty());

  // A link to a FIFO is listed like a file; its decoding must not wait for a writer for ever.
  ASSERT_EQ(::mkfifo(folder.Path("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(folder.Path("fifo"), folder.Path("shown/inner/fifo.jpg"));
  thumbnails->Files()->AddFile(Q(folder.Path("shown/inner/fifo.jpg")));
  EXPECT_TRUE(WaitUntil([&] { return thumbnails->rowCount() == 2 && thumbnails->DecodesPending() == 0; }));

  // The folder removed while shown: a note in its place, and the pictures again once it is back.
  // (Not under Wine, which only marks a folder the window watches for deletion.)
  const QLabel* note = pane.MissingFolderNote();
  EXPECT_FALSE(note->isVisible());
  std::filesystem::remove_all(folder.Path("shown/inner"));
  EXPECT_TRUE(WaitUntil([&] { return note->isVisible(); }));
  EXPECT_TRUE(note->text().contains(QStringLiteral("資料夾已不存在"))) << note->text().toStdString();
  EXPECT_TRUE(note->text().contains(QDir::toNativeSeparators(Q(folder.Path("shown/inner")))))
      << note->text().toStdString();
  std::filesystem::create_directories(folder.Path("shown/inner"));
  WriteFile(folder.Path("shown/inner/back.jpg"), JpegBytes(7));
  EXPECT_TRUE(WaitUntil([&] { return !note->isVisible() && thumbnails->rowCount() == 1; }));
#endif
}

// Ctrl+wheel and Ctrl+plus/minus make the thumbnails larger or smaller, within bounds, and the
// pictures are decoded again at the new size.
TEST(FolderPane, ControlWheelAndControlPlusMinusResizeTheThumbnailsWithinBounds) {
  TempDir folder;
  WriteFile(folder.Path("p.jpg"), JpegBytes(1));  // 64 x 48
  WebBrowserPane pane;
  pane.resize(600, 300);
  pane.show();
  pane.Navigate2(Q(folder.Path()));
  ThumbnailModel* thumbnails = pane.Thumbnails();
  ASSERT_TRUE(Loaded(*thumbnails->Files()));
  QListView* view = pane.FolderView();
  ASSERT_EQ(pane.ThumbnailEdge(), 96);
  const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
    const QPointF at(10, 10);
    QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &event);
  };
  wheel(120, Qt::ControlModifier);
  EXPECT_EQ(pane.ThumbnailEdge(), 112);
  wheel(120, Qt::NoModifier);  // scrolls, no more
  wheel(60, Qt::ControlModifier);
  EXPECT_EQ(pane.ThumbnailEdge(), 112);
  wheel(60, Qt::ControlModifier);  // half notches add up
  EXPECT_EQ(pane.ThumbnailEdge(), 128);
  EXPECT_EQ(view->iconSize(), QSize(128, 128));
  EXPECT_GT(view->gridSize().width(), 128);
  QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(pane.ThumbnailEdge(), 112);
  for (int i = 0; i < 20; ++i) QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(pane.ThumbnailEdge(), WebBrowserPane::kLargestEdge);
  for (int i = 0; i < 20; ++i) wheel(-120, Qt::ControlModifier);
  EXPECT_EQ(pane.ThumbnailEdge(), WebBrowserPane::kSmallestEdge);
  EXPECT_EQ(view->iconSize(), QSize(48, 48));
  // The 64 x 48 picture is decoded again to fit 48 x 48.
  EXPECT_TRUE(WaitUntil([&] {
    const QPixmap shown = thumbnails->index(0, 0).data(Qt::DecorationRole).value<QPixmap>();
    return shown.size() == QSize(48, 36);
  }));
}

#ifdef TAVRIN_TEST_DBUS
// A file manager on the session bus: the calls it received.
class FakeFileManager : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
    calls.append(message);
    return true;
  }
  QList<QDBusMessage> calls;
};

// Showing a file in its folder asks the file manager on the session bus to point at the file;
// with none there, the folder is opened.
TEST(FolderPane, ShowInFolderAsksTheFileManagerOnTheBusToPointAtTheFile) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) GTEST_SKIP() << "no D-Bus daemon for the tests' own bus (Debian: dbus-daemon)";
  TempDir folder;
  WriteFile(folder.Path("p.jpg"), "p");
  const QString path = Q(folder.Path("p.jpg"));
  RecordingPrompts prompts;
  EXPECT_TRUE(prompts.UserPrompts::ShowInFolder(path));
  EXPECT_EQ(prompts.opened, QList<QUrl>{QUrl::fromLocalFile(Q(folder.Path()))});

  FakeFileManager manager;
  ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
  ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
  EXPECT_TRUE(prompts.UserPrompts::ShowInFolder(path));
  EXPECT_TRUE(WaitUntil([&] { return !manager.calls.isEmpty(); }));
  bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
  bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
  ASSERT_EQ(manager.calls.size(), 1);
  const QDBusMessage& call = manager.calls.front();
  EXPECT_EQ(call.interface(), "org.freedesktop.FileManager1");
  EXPECT_EQ(call.member(), "ShowItems");
  ASSERT_EQ(call.arguments().size(), 2);
  EXPECT_EQ(call.arguments()[0].toStringList(), QStringList{QUrl::fromLocalFile(path).toString()});
  EXPECT_EQ(prompts.opened.size(), 1);  // the folder was not opened besides
}
#endif

// A name is drawn whole: wrapped at any character (a hyphen is no place it must break at), and
// shortened in the middle only when it takes more than two lines.
TEST(FolderPane, NamesAreWrappedAnywhereAndShortenedOnlyBeyondTwoLines) {
  const QFont font = QApplication::font();
  const int width = QFontMetrics(font).horizontalAdvance(QStringLiteral("mountain-vi"));
  EXPECT_EQ(NameLines(QStringLiteral("a.flv"), font, width), QStringList{QStringLiteral("a.flv")});
  for (const QString& name : {QStringLiteral("big-panorama.jpg"), QStringLiteral("mountain-view.jpg")}) {
    const QStringList lines = NameLines(name, font, width);
    EXPECT_EQ(lines.size(), 2) << name.toStdString();
    EXPECT_EQ(lines.join(QString()), name);
  }
  const QString longName = QStringLiteral("photo-2026-12-09-21-55-44-holiday-at-the-lake.jpg");
  const QStringList lines = NameLines(longName, font, width);
  ASSERT_EQ(lines.size(), 2);
  const QString drawn = lines.join(QString());
  EXPECT_TRUE(drawn.contains(QStringLiteral("…")));
  EXPECT_TRUE(drawn.startsWith(QStringLiteral("photo-")));
  EXPECT_TRUE(drawn.endsWith(QStringLiteral(".jpg")));
  for (const QString& line : lines) EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), width);
}
