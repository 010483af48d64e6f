#include "base/VirtualFiles.h"

#include <mutex>
#include <vector>

#include "base/PathText.h"

namespace virtual_files {

namespace {

struct Entry {
  std::uint64_t id;
  std::string folder;
  std::shared_ptr<VirtualFileProvider> provider;
};

std::mutex g_mutex;
std::vector<Entry> g_entries;
std::uint64_t g_nextId = 1;

void Unregister(std::uint64_t id) {
  if (id == 0) return;
  std::lock_guard lock(g_mutex);
  std::erase_if(g_entries, [id](const Entry& e) { return e.id == id; });
}

}  // namespace

Registration::Registration(Registration&& other) noexcept : id_(other.id_) { other.id_ = 0; }

Registration& Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    Unregister(id_);
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

Registration::~Registration() { Unregister(id_); }

Registration Register(std::string folder, std::shared_ptr<VirtualFileProvider> provider) {
  while (folder.size() > 1 && IsPathSeparator(folder.back())) folder.pop_back();
  std::lock_guard lock(g_mutex);
  const std::uint64_t id = g_nextId++;
  g_entries.push_back({id, std::move(folder), std::move(provider)});
  return Registration(id);
}

std::shared_ptr<VirtualFileProvider> ProviderFor(std::string_view path) {
  std::lock_guard lock(g_mutex);
  const Entry* best = nullptr;
  for (const Entry& e : g_entries) {
    if (path.size() > e.folder.size() && path.starts_with(e.folder) && IsPathSeparator(path[e.folder.size()]) &&
        (!best || e.folder.size() > best->folder.size())) {
      best = &e;
    }
  }
  return best ? best->provider : nullptr;
}

}  // namespace virtual_files
