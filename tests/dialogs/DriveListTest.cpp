// The drive list: which volumes it offers, which one holds a path, and choosing a drive, readable
// or not.
#include <gtest/gtest.h>

#include "DialogTestSupport.h"

#ifdef _WIN32
// Windows lists drive letters, not mounts: every letter the system has, in its order, ready or not.
TEST(Volumes, TheSystemsListIsEveryDriveLetterLabelledAsTheSystemNamesIt) {
  wchar_t buffer[512];
  ASSERT_GT(GetLogicalDriveStringsW(512, buffer), 0u);
  QStringList letters;
  for (const wchar_t* root = buffer; *root; root += wcslen(root) + 1) letters << QString::fromWCharArray(root);
  QStringList roots;
  for (const Volume& volume : SystemVolumes()) {
    roots << volume.root;
    EXPECT_TRUE(volume.label.startsWith(volume.root.left(2).toLower())) << volume.label.toStdString();
  }
  EXPECT_EQ(roots, letters);
}

TEST(Volumes, ThePathsVolumeIsItsDriveLetter) {
  const std::vector<Volume> volumes{{"C:\\", "c:"}, {"D:\\", "d: [USB]"}};
  EXPECT_EQ(VolumeIndexOf(volumes, "d:\\pics"), 1);
  EXPECT_EQ(VolumeIndexOf(volumes, "C:/Users/ann"), 0);
  EXPECT_EQ(VolumeIndexOf(volumes, "E:\\x"), -1);
  EXPECT_EQ(VolumeIndexOf(volumes, "\\\\server\\share"), -1);
  EXPECT_EQ(VolumeIndexOf(volumes, ""), -1);
  EXPECT_EQ(VolumeIndexOf(volumes, "   "), -1);
}

TEST(Volumes, OpeningADriveShowsTheFolderTheSystemKeepsForIt) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("vol/sub"));
  TestDrive other(folder.Sub("other"), "o");
  CurrentFolder current(Q(folder.Path("vol/sub")));
  const std::vector<Volume> volumes{RootVolume(), other.volume};
  EXPECT_EQ(CurrentFolderOfDrive(volumes, 0), Q(folder.Path("vol/sub")));
  EXPECT_EQ(CurrentFolderOfDrive(volumes, 1), other.volume.root);
}
#else
TEST(Volumes, AFileManagersChoiceOfMounts) {
  const QString home = "/home/ann";
  EXPECT_TRUE(VolumeIsShown("/", "ext4", home));
  EXPECT_TRUE(VolumeIsShown("/media/ann/USB", "vfat", home));
  EXPECT_TRUE(VolumeIsShown("/run/media/ann/Photos", "exfat", home));
  EXPECT_TRUE(VolumeIsShown("/mnt/data", "ext4", home));
  EXPECT_TRUE(VolumeIsShown("/home/ann/nas", "cifs", home));
  EXPECT_FALSE(VolumeIsShown("/home/ann/.cache/doc", "fuse", home));
  EXPECT_FALSE(VolumeIsShown("/boot/efi", "vfat", home));
  EXPECT_FALSE(VolumeIsShown("/home", "ext4", home));
  EXPECT_FALSE(VolumeIsShown("/run/user/1000", "tmpfs", home));
  EXPECT_FALSE(VolumeIsShown("/media/ann/snapshot", "squashfs", home));
  EXPECT_FALSE(VolumeIsShown("/mnt", "ext4", home));
  EXPECT_FALSE(VolumeIsShown("/mediafiles", "ext4", home));

  EXPECT_EQ(VolumeLabel("/media/ann/USB", "USB"), "USB (/media/ann/USB)");
  EXPECT_EQ(VolumeLabel("/mnt/data", ""), "/mnt/data");
}

TEST(Volumes, TheSystemsListStartsAtTheRootAndNamesEachMountOnce) {
  const std::vector<Volume> volumes = SystemVolumes();
  ASSERT_FALSE(volumes.empty());
  EXPECT_EQ(volumes.front().root, "/");
  QStringList roots;
  for (const Volume& volume : volumes) {
    EXPECT_FALSE(roots.contains(volume.root)) << volume.root.toStdString();
    EXPECT_FALSE(volume.label.isEmpty());
    roots << volume.root;
  }
}

TEST(Volumes, ThePathsVolumeIsTheDeepestMountHoldingIt) {
  const std::vector<Volume> volumes{{"/", "/"}, {"/media/ann/USB", "USB"}, {"/media/ann/USB/inner", "in"}};
  EXPECT_EQ(VolumeIndexOf(volumes, "/media/ann/USB"), 1);
  EXPECT_EQ(VolumeIndexOf(volumes, "/media/ann/USB/pics/"), 1);
  EXPECT_EQ(VolumeIndexOf(volumes, "/media/ann/USB/inner/x"), 2);
  EXPECT_EQ(VolumeIndexOf(volumes, "/media/ann/USBX"), 0);
  EXPECT_EQ(VolumeIndexOf(volumes, "/media/ann/USB/../USBX"), 0);
  EXPECT_EQ(VolumeIndexOf(volumes, ""), -1);
  EXPECT_EQ(VolumeIndexOf(volumes, "   "), -1);
  EXPECT_EQ(VolumeIndexOf({{"/media/ann/USB", "USB"}}, "/home"), -1);
}

TEST(Volumes, OpeningADriveShowsTheCurrentFolderOnlyOnItsOwnVolume) {
  TempDir folder;
  std::filesystem::create_directories(folder.Path("vol/sub"));
  CurrentFolder current(Q(folder.Path("vol/sub")));
  const std::vector<Volume> volumes{RootVolume(), {Q(folder.Path("vol")), "vol"}, {Q(folder.Path("other")), "o"}};
  EXPECT_EQ(CurrentFolderOfDrive(volumes, 1), Q(folder.Path("vol/sub")));
  EXPECT_EQ(CurrentFolderOfDrive(volumes, 0), "/");
  EXPECT_EQ(CurrentFolderOfDrive(volumes, 2), Q(folder.Path("other")));
}

#endif

namespace {

class DriveChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder.Path("Pics"));
    std::filesystem::create_directories(folder.Path("card/DCIM"));
    dialog = LoadedDialog(Q(folder.Path("Pics")), Q(folder.Path()));
    drives = Drives(*dialog);
    drives->SetVolumes({RootVolume(), card.volume, MissingDrive(folder.Path("ejected"), "EJECTED")});
    drives->SelectDriveOf(Q(folder.Path("Pics")));
  }
  void Choose(int index) {
    drives->setCurrentIndex(index);
    emit drives->activated(index);
  }
  TempDir folder;
  TestDrive card{folder.Sub("card"), "CARD"};
  // The program works in a folder of the test's own, on none of the drives it chooses.
  CurrentFolder current{Q(folder.Path())};
  ScriptedPrompts prompts;
  std::unique_ptr<dlgPath> dialog;
  DriveListBox* drives = nullptr;
};

}  // namespace

TEST_F(DriveChoice, ChoosingADriveOpensItsFolder) {
  Choose(1);
  // A drive that was never opened shows its root (a mount point is the root of its volume).
  EXPECT_EQ(OpenFolder(*dialog), card.volume.root);
  EXPECT_EQ(FolderText(*dialog), card.volume.root);
  EXPECT_EQ(drives->Drive(), card.volume.root);
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(DriveChoice, UnreadableDriveReturnsToTheFolderListsDriveAndSaysWhy) {
  Child<QLineEdit>(*dialog, "txtFolder")->setText("typed");
  Choose(2);
  EXPECT_EQ(drives->currentIndex(), 0);
  EXPECT_EQ(drives->Drive(), RootVolume().root);
  EXPECT_EQ(OpenFolder(*dialog), Q(folder.Path("Pics")));
  EXPECT_EQ(FolderText(*dialog), "typed");
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_TRUE(prompts.messages[0].text.startsWith(QStringLiteral("無法讀取磁碟機 EJECTED")));
  EXPECT_EQ(prompts.messages[0].buttons, MessageButtons::Ok);
  // The list is usable afterwards: the readable drive still opens.
  Choose(1);
  EXPECT_EQ(OpenFolder(*dialog), card.volume.root);
}
