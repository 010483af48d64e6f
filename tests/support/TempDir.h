#pragma once
// A fresh folder for one test, removed with everything in it afterwards, and whole-file reads and
// writes for the files a test puts in it.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class TempDir {
 public:
  TempDir() {
    // The clock as well: some random_device implementations (older MinGW) repeat across processes.
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tavrin-test-" + std::to_string(random()) + "-" + std::to_string(now));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    // A test may have taken the write permission away to provoke a failure.
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, or the path of name inside it, with the system's separator ("a/b" is "a\\b" on
  // Windows), as the program itself writes paths.
  std::string Path(const std::string& name = {}) const {
    return name.empty() ? path_.string() : (path_ / name).make_preferred().string();
  }
  std::string operator/(const std::string& name) const { return Path(name); }
  // Creates the subfolder name (and its parents); returns its path.
  std::string Sub(const std::string& name) const {
    std::filesystem::create_directories(path_ / name);
    return Path(name);
  }
  const std::filesystem::path& Fs() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
