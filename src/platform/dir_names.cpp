// Finding a name in a directory without regard to case, in amortised O(1).
//
// A name that does not exist as written is looked up in its directory ignoring
// case. Listing the directory for every such lookup makes creating N files in
// one directory cost N^2/2 entries read. Large directories therefore get a
// cache: their names keyed by their case-folded form (the sequence of
// UpperCharAt values, so that two names have the same key exactly when
// EqualsIgnoreCase says they are equal).
//
// Keeping the cache current. A directory's change time has the resolution of
// the kernel's clock tick, so two changes within one tick (ours and another
// process's) leave the same time behind, and a cache validated by it could
// miss the second. The cache is instead kept by the kernel's change
// notification (inotify): before every lookup the pending events are read and
// applied, and since the kernel queues an event before the call that made the
// change returns, every change that happened before the lookup began, by any
// process, is seen. A cached directory is watched before it is listed, so no
// change falls between the listing and the watch (an event for a change the
// listing already shows is applied again harmlessly: adds and removals are
// idempotent, and the last event for a name is its final state).
//
// Which directories are cached. A large one (kMinCachedEntries entries or
// more) at its first listing. A small one at its second listing within the
// last kRecentListings listings: a listing of even a few entries costs about
// ten system calls, a cached lookup one, so a directory that is looked into
// again (a run creating one file after another in it) pays for its watch at
// once, while a directory looked into once costs no watch.
//
// Invariants:
// - At most kMaxCachedDirectories directories are cached at a time (the least
//   recently used is dropped).
// - A cache entry is keyed by the directory's device and inode; a directory
//   renamed or reached through another path keeps its entry.
// - A queue overflow drops every entry; a removed or unmounted directory drops
//   its own. Without inotify (or without a watch) the directory is listed for
//   each lookup, as before.
// - A forked child never reads its parent's notification queue: on its first
//   lookup (a fork handler marks it) the inherited state is abandoned.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>

#include <array>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/host_internal.h"

namespace platform::internal {
namespace {

// Below this many entries a listing costs less than keeping a watch.
constexpr std::size_t kMinCachedEntries = 64;
// Each cached directory holds one inotify watch (a per-user kernel resource).
constexpr std::size_t kMaxCachedDirectories = 64;
// How many recent listings a small directory's second listing is looked for in.
constexpr std::size_t kRecentListings = 16;
// Room for many events per read(); each is a header plus a NUL-padded name.
constexpr std::size_t kEventBufferBytes = 64 * 1024;
constexpr std::size_t kLargestEvent = sizeof(inotify_event) + NAME_MAX + 1;
constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

HostCounters gCounters;
// Set in the child after fork(): its inherited queue belongs to the parent.
std::atomic<bool> gForked{false};

std::u32string FoldedKey(std::string_view name) {
  std::u32string key;
  key.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const char c = name[i];
    if (static_cast<unsigned char>(c) < kFirstNonAscii) {
      // ASCII: the same upper case as UpperCharAt gives, without decoding.
      key.push_back(static_cast<char32_t>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c));
      ++i;
    } else {
      key.push_back(static_cast<char32_t>(UpperCharAt(name, i)));
    }
  }
  return key;
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Every name of the open directory `fd` (which stays open), in listing order.
// False when the directory cannot be read.
template <typename Visit>
bool ListDirectory(int fd, Visit&& visit) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return false;
  }
  ::rewinddir(dir);
  gCounters.listings.fetch_add(1, std::memory_order_relaxed);
  std::uint64_t read = 0;
  bool stop = false;
  while (!stop) {
    const dirent* e = ::readdir(dir);
    if (e == nullptr) break;
    ++read;
    if (!IsDotEntry(e->d_name)) stop = visit(std::string_view(e->d_name));
  }
  gCounters.entriesRead.fetch_add(read, std::memory_order_relaxed);
  ::closedir(dir);
  return true;
}

class NameCache {
 public:
  // The answer from the cache, when the directory `st` describes is cached.
  std::optional<std::optional<std::string>> FindCached(const struct stat& st,
                                                       std::string_view name) {
    std::lock_guard lock(mutex_);
    AdoptProcess();
    Drain();
    return Lookup(st, name);
  }

  std::optional<std::string> Find(int dirFd, std::string_view name) {
    std::lock_guard lock(mutex_);
    AdoptProcess();
    Drain();
    struct stat st {};
    if (::fstat(dirFd, &st) != 0) return std::nullopt;
    if (auto cached = Lookup(st, name)) return *cached;

    // Not cached: one listing answers; a large directory is then cached.
    std::optional<std::string> found;
    std::size_t entries = 0;
    if (!ListDirectory(dirFd, [&](std::string_view entry) {
          ++entries;
          if (!found && EqualsIgnoreCase(entry, name)) found = std::string(entry);
          return false;
        })) {
      return std::nullopt;
    }
    if (entries >= kMinCachedEntries || ListedRecently(st)) Cache(dirFd, st);
    return found;
  }

 private:
  struct Directory {
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t lastUse = 0;
    // Folded key -> the real names with that key, in listing order.
    std::unordered_map<std::u32string, std::vector<std::string>> names;

    void Add(std::string_view name) {
      std::vector<std::string>& same = names[FoldedKey(name)];
      for (const std::string& n : same) {
        if (n == name) return;
      }
      same.emplace_back(name);
    }
    void Remove(std::string_view name) {
      const auto it = names.find(FoldedKey(name));
      if (it == names.end()) return;
      std::erase(it->second, std::string(name));
      if (it->second.empty()) names.erase(it);
    }
  };

  // The name as written when it exists, else the first one equal to it
  // ignoring case (as a lookup that probes the name first would find).
  std::optional<std::optional<std::string>> Lookup(const struct stat& st, std::string_view name) {
    const auto known = byInode_.find({st.st_dev, st.st_ino});
    if (known == byInode_.end()) return std::nullopt;
    Directory& d = byWatch_.at(known->second);
    d.lastUse = ++useClock_;
    const auto it = d.names.find(FoldedKey(name));
    if (it == d.names.end() || it->second.empty()) return std::optional<std::string>();
    for (const std::string& same : it->second) {
      if (same == name) return std::optional<std::string>(same);
    }
    return std::optional<std::string>(it->second.front());
  }

  // True when the directory was listed among the last kRecentListings
  // listings; otherwise it is noted as listed now.
  bool ListedRecently(const struct stat& st) {
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    for (const auto& listed : recent_) {
      if (listed == id) return true;
    }
    recent_[nextRecent_] = id;
    nextRecent_ = (nextRecent_ + 1) % recent_.size();
    return false;
  }

  void AdoptProcess() {
    static std::once_flag once;
    std::call_once(once, [] { ::pthread_atfork(nullptr, nullptr, [] { gForked = true; }); });
    if (owner_ != 0 && !gForked) return;
    const pid_t self = ::getpid();
    gForked = false;
    if (owner_ == self) return;
    // A forked child: the queue is shared with the parent, so leave it to it.
    if (notify_ >= 0) ::close(notify_);
    notify_ = -1;
    byWatch_.clear();
    byInode_.clear();
    owner_ = self;
    notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);  // -1: no cache in this process
  }

  void DropAll() {
    for (const auto& [wd, d] : byWatch_) ::inotify_rm_watch(notify_, wd);
    byWatch_.clear();
    byInode_.clear();
  }

  void Forget(int wd) {
    const auto it = byWatch_.find(wd);
    if (it == byWatch_.end()) return;
    byInode_.erase({it->second.dev, it->second.ino});
    byWatch_.erase(it);
  }

  // Applies every pending event.
  void Drain() {
    if (notify_ < 0) return;
    alignas(inotify_event) static thread_local std::array<char, kEventBufferBytes> buffer;
    for (;;) {
      const ssize_t n = ::read(notify_, buffer.data(), buffer.size());
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;  // EAGAIN: nothing pending
      }
      // The kernel hands over as many events as fit: with room left for the
      // largest one, the queue is empty now (no second read for EAGAIN).
      const bool drained = buffer.size() - static_cast<std::size_t>(n) >= kLargestEvent;
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer.data() + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if ((e->mask & IN_Q_OVERFLOW) != 0) {
          DropAll();
          continue;
        }
        if ((e->mask & IN_IGNORED) != 0) {
          Forget(e->wd);
          continue;
        }
        const auto it = byWatch_.find(e->wd);
        if (it == byWatch_.end() || e->len == 0) continue;
        const std::string_view name(e->name);
        if ((e->mask & (IN_CREATE | IN_MOVED_TO)) != 0) it->second.Add(name);
        if ((e->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) it->second.Remove(name);
      }
      if (drained) return;
    }
  }

  // Watches the directory, then lists it into a new cache entry.
  void Cache(int dirFd, const struct stat& st) {
    if (notify_ < 0) return;
    if (byWatch_.size() >= kMaxCachedDirectories) Evict();
    const std::string procPath = "/proc/self/fd/" + std::to_string(dirFd);
    const int wd = ::inotify_add_watch(notify_, procPath.c_str(), kWatchMask);
    if (wd < 0) return;
    if (byWatch_.count(wd) != 0) return;  // already cached under this watch
    Directory d;
    d.dev = st.st_dev;
    d.ino = st.st_ino;
    d.lastUse = ++useClock_;
    if (!ListDirectory(dirFd, [&](std::string_view entry) {
          d.Add(entry);
          return false;
        })) {
      ::inotify_rm_watch(notify_, wd);
      return;
    }
    byInode_[{d.dev, d.ino}] = wd;
    byWatch_.emplace(wd, std::move(d));
    Drain();  // changes made while listing
  }

  void Evict() {
    auto oldest = byWatch_.begin();
    for (auto it = byWatch_.begin(); it != byWatch_.end(); ++it) {
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    if (oldest == byWatch_.end()) return;
    ::inotify_rm_watch(notify_, oldest->first);
    byInode_.erase({oldest->second.dev, oldest->second.ino});
    byWatch_.erase(oldest);
  }

  std::mutex mutex_;
  pid_t owner_ = 0;
  int notify_ = -1;
  std::uint64_t useClock_ = 0;
  std::unordered_map<int, Directory> byWatch_;
  std::map<std::pair<dev_t, ino_t>, int> byInode_;
  // Small directories listed lately (a ring; {0, 0} is no directory).
  std::array<std::pair<dev_t, ino_t>, kRecentListings> recent_{};
  std::size_t nextRecent_ = 0;
};

NameCache& Cache() {
  static NameCache* cache = new NameCache;  // outlives every static user
  return *cache;
}

}  // namespace

HostCounters& Counters() {
  return gCounters;
}

std::optional<std::string> FindNameIgnoringCaseAt(int dirFd, std::string_view name) {
  return Cache().Find(dirFd, name);
}

std::optional<std::optional<std::string>> FindNameInCachedDirectory(const struct stat& dirStat,
                                                                    std::string_view name) {
  return Cache().FindCached(dirStat, name);
}

std::optional<std::string> FindNameIgnoringCase(const std::string& dirHost, std::string_view name) {
  // A cached directory answers without being opened.
  struct stat st {};
  if (::stat(dirHost.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  if (auto cached = Cache().FindCached(st, name)) return *cached;
  const int fd = ::open(dirHost.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto found = FindNameIgnoringCaseAt(fd, name);
  ::close(fd);
  return found;
}

}  // namespace platform::internal
