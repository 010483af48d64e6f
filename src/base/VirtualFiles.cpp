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

struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;
  std::uint64_t nextId = 1;
};

// Never destroyed: a source kept by another static object (the installed URL cache) unregisters
// while the program exits, after the statics of this file would have gone.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

void Unregister(std::uint64_t id) {
  if (id == 0) return;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.entries, [id](const Entry& e) { return e.id == id; });
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
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const std::uint64_t id = registry.nextId++;
  registry.entries.push_back({id, std::move(folder), std::move(provider)});
  return Registration(id);
}

std::shared_ptr<VirtualFileProvider> ProviderFor(std::string_view path) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const Entry* best = nullptr;
  for (const Entry& e : registry.entries) {
    if (path.size() > e.folder.size() && path.starts_with(e.folder) && IsPathSeparator(path[e.folder.size()]) &&
        (!best || e.folder.size() > best->folder.size())) {
      best = &e;
    }
  }
  return best ? best->provider : nullptr;
}

}  // namespace virtual_files
