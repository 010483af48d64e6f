#include "base/FileSystemObject.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/NumberedError.h"
#include "support/TempDir.h"

namespace {

// Serves bodies from memory for paths below a folder, as a browser cache source does.
class MemoryFiles : public VirtualFileProvider {
 public:
  std::map<std::string, std::string> bodies;
  std::optional<std::uint64_t> SizeOf(const std::string& path) override {
    auto found = bodies.find(path);
    if (found == bodies.end()) return std::nullopt;
    return found->second.size();
  }
  bool CopyTo(const std::string& path, const ByteSink& sink) override {
    auto found = bodies.find(path);
    return found != bodies.end() && sink(found->second.data(), found->second.size());
  }
};

TEST(FileSystemObject, TakesPathsApartByText) {
  FileSystemObject fso;
  EXPECT_EQ(fso.GetFileName("/c/pics/photo[1].jpg"), "photo[1].jpg");
  EXPECT_EQ(fso.GetBaseName("/c/pics/archive.tar.gz"), "archive.tar");
  EXPECT_EQ(fso.GetExtensionName("/c/pics/archive.tar.gz"), "gz");
  EXPECT_EQ(fso.GetExtensionName("/c/pics.d/readme"), "");
  EXPECT_EQ(fso.GetParentFolderName("/c/pics/photo.jpg"), "/c/pics");
  EXPECT_EQ(fso.GetParentFolderName("/photo.jpg"), "/");
  EXPECT_EQ(fso.GetParentFolderName("photo.jpg"), "");
  EXPECT_EQ(fso.GetFileName("/c/pics/"), "pics");
}

TEST(FileSystemObject, TellsFilesFromFolders) {
  TempDir dir;
  WriteFile(dir / "f.jpg", "12345");
  FileSystemObject fso;
  EXPECT_TRUE(fso.FileExists(dir / "f.jpg"));
  EXPECT_FALSE(fso.FolderExists(dir / "f.jpg"));
  EXPECT_TRUE(fso.FolderExists(dir.Path()));
  EXPECT_FALSE(fso.FileExists(dir.Path()));
  EXPECT_EQ(fso.GetFile(dir / "f.jpg").Size, 5u);
  EXPECT_THROW(fso.GetFile(dir / "gone.jpg"), NumberedError);
}

TEST(FileSystemObject, ResolvesVirtualPathsThroughTheirProvider) {
  TempDir dir;
  WriteFile(dir / "entry_0", "the whole cache entry, not the picture");
  auto files = std::make_shared<MemoryFiles>();
  const std::string virtualPath = dir / "entry_0/cat.jpg";
  files->bodies[virtualPath] = "picture";
  FileSystemObject fso;
  {
    auto registration = virtual_files::Register(dir.Path(), files);
    EXPECT_TRUE(fso.FileExists(virtualPath));
    EXPECT_EQ(fso.GetFile(virtualPath).Size, 7u);
    std::string copied;
    fso.ReadContents(virtualPath, [&](const char* d, std::size_t n) { return copied.append(d, n), true; });
    EXPECT_EQ(copied, "picture");
    EXPECT_FALSE(fso.FileExists(dir / "entry_0/other.jpg"));
    EXPECT_THROW(fso.GetFile(dir / "entry_0/other.jpg"), NumberedError);
  }
  // Once the source is gone its paths name nothing.
  EXPECT_FALSE(fso.FileExists(virtualPath));
}

}  // namespace
