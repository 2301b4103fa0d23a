#include "platform/dir_walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quelvane {

const std::optional<FileStat>& WalkEntry::Stat() const {
  if (m_stat_done) return m_stat;
  m_stat_done = true;
  struct statx sx;
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT;
  if (statx(m_dir_fd, m_name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return m_stat;
  if (!S_ISREG(sx.stx_mode)) return m_stat;
  FileStat stat;
  stat.bytes = sx.stx_size;
  stat.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  stat.inode = sx.stx_ino;
  stat.modified = {sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec};
  if ((sx.stx_mask & STATX_BTIME) != 0) {
    stat.born = {sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec};
    stat.has_birth_time = true;
  }
  m_stat = stat;
  return m_stat;
}

namespace {

// The buffer for one getdents64 call; big enough that most directories come in one read.
constexpr size_t kReadBufferSize = 64 * 1024;

// Names of one directory in one buffer (NUL-terminated, so they can go straight to the *at
// calls), sorted by byte order: a few allocations per directory, none per name once grown.
class NameList {
 public:
  void Clear() {
    m_arena.clear();
    m_names.clear();
  }
  void Add(const char* name, size_t length) {
    m_names.push_back({m_arena.size(), length});
    m_arena.append(name, length + 1);  // with its NUL
  }
  void Sort() {
    const char* base = m_arena.data();
    // strcmp compares as unsigned char: plain byte order, whatever the encoding.
    std::sort(m_names.begin(), m_names.end(), [base](const Name& a, const Name& b) {
      return std::strcmp(base + a.offset, base + b.offset) < 0;
    });
  }
  size_t Size() const { return m_names.size(); }
  const char* NameAt(size_t i) const { return m_arena.data() + m_names[i].offset; }
  size_t LengthAt(size_t i) const { return m_names[i].length; }

 private:
  struct Name {
    size_t offset;
    size_t length;
  };
  std::string m_arena;
  std::vector<Name> m_names;
};

// An open directory, closed when the last holder lets go: the level of the walk that opens its
// subdirectories and the listing whose files are stat'ed through it may be on different threads.
class DirFd {
 public:
  explicit DirFd(int fd) : m_fd(fd) {}
  ~DirFd() {
    // A close of a directory opened read-only has nothing to flush; its result tells nothing.
    (void)close(m_fd);
  }
  DirFd(const DirFd&) = delete;
  DirFd& operator=(const DirFd&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};
using SharedDirFd = std::shared_ptr<const DirFd>;

// The files of one directory, in byte order, ready to be reported.
struct Listing {
  SharedDirFd dir;
  std::string path;  // the directory's path with its trailing "/"
  NameList files;
};

// One directory on the current path: where its part of the path buffer ends, and the
// subdirectories still to walk.
struct Level {
  SharedDirFd dir;
  size_t path_length = 0;  // up to and including the trailing "/"
  FileIdentity id;
  NameList subdirs;
  size_t next = 0;
};

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The entry type when the file system does not put it in the directory entry.
unsigned char TypeByStat(int dir_fd, const char* name) {
  struct stat st;
  if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
  if (S_ISREG(st.st_mode)) return DT_REG;
  if (S_ISDIR(st.st_mode)) return DT_DIR;
  return DT_UNKNOWN;
}

void CloseDescriptor(int fd) {
  DirFd closer(fd);
}

// The depth-first traversal itself: hands out one listing per readable directory, in walk order.
class ListingProducer {
 public:
  ListingProducer(std::string_view root, std::stop_token stop)
      : m_root(root), m_stop(std::move(stop)), m_buffer(new char[kReadBufferSize]) {}

  // The next directory's files; false at the end of the walk or on a stop request.
  bool Next(Listing& out);
  // Complete once Next has returned false.
  const WalkStats& Stats() const { return m_stats; }

 private:
  bool Start(Listing& out);
  bool Visit(int fd, Listing& out);
  bool OnCurrentPath(const FileIdentity& id) const;
  bool ReadEntries(int fd, NameList& files, NameList& subdirs);

  std::string m_root;
  std::stop_token m_stop;
  std::unique_ptr<char[]> m_buffer;
  bool m_started = false;
  std::string m_path;           // the path of the directory at hand
  std::vector<Level> m_levels;  // kept beyond m_depth so their buffers are reused
  size_t m_depth = 0;
  WalkStats m_stats;
};

bool ListingProducer::Start(Listing& out) {
  m_started = true;
  m_path = m_root;
  if (m_path.empty() || m_path.back() != '/') m_path.push_back('/');
  // The root is opened by name, so a root that is a link to a directory is followed.
  const int fd = m_root.empty() ? -1 : open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    ++m_stats.unreadable_dirs;
    return false;
  }
  return Visit(fd, out);
}

bool ListingProducer::Next(Listing& out) {
  if (!m_started && Start(out)) return true;
  while (m_depth > 0) {
    if (m_stop.stop_requested()) return false;
    Level& top = m_levels[m_depth - 1];
    if (top.next == top.subdirs.Size()) {
      top.dir.reset();
      --m_depth;
      continue;
    }
    const size_t index = top.next++;
    const char* name = top.subdirs.NameAt(index);
    m_path.resize(top.path_length);
    m_path.append(name, top.subdirs.LengthAt(index));
    m_path.push_back('/');
    // No following: a directory replaced by a link since it was listed is not entered.
    const int fd = openat(top.dir->Get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      ++m_stats.unreadable_dirs;
      continue;
    }
    // Visit may grow m_levels, so `top` is not used after this.
    if (Visit(fd, out)) return true;
  }
  return false;
}

// Reads one opened directory (taking ownership of fd). When that works the directory becomes the
// deepest level and `out` holds its files.
bool ListingProducer::Visit(int fd, Listing& out) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    ++m_stats.unreadable_dirs;
    CloseDescriptor(fd);
    return false;
  }
  const FileIdentity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (OnCurrentPath(id)) {
    ++m_stats.loops_skipped;
    CloseDescriptor(fd);
    return false;
  }
  if (m_depth == m_levels.size()) m_levels.emplace_back();
  Level& level = m_levels[m_depth];
  level.subdirs.Clear();
  level.next = 0;
  out.files.Clear();
  if (!ReadEntries(fd, out.files, level.subdirs)) {
    ++m_stats.unreadable_dirs;
    CloseDescriptor(fd);
    return false;
  }
  level.dir = std::make_shared<const DirFd>(fd);
  level.path_length = m_path.size();
  level.id = id;
  level.subdirs.Sort();
  ++m_depth;
  out.files.Sort();
  out.dir = level.dir;
  out.path.assign(m_path);
  return true;
}

bool ListingProducer::OnCurrentPath(const FileIdentity& id) const {
  for (size_t i = 0; i < m_depth; ++i) {
    if (m_levels[i].id == id) return true;
  }
  return false;
}

// Sorts the entries of a directory into files and subdirectories. False when reading failed;
// what was read up to then is not used.
bool ListingProducer::ReadEntries(int fd, NameList& files, NameList& subdirs) {
  char* buffer = m_buffer.get();
  for (;;) {
    const ssize_t got = getdents64(fd, buffer, kReadBufferSize);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (size_t pos = 0; pos < static_cast<size_t>(got);) {
      const char* record = buffer + pos;
      unsigned short record_length;
      unsigned char type;
      std::memcpy(&record_length, record + offsetof(struct dirent64, d_reclen),
                  sizeof record_length);
      std::memcpy(&type, record + offsetof(struct dirent64, d_type), sizeof type);
      const char* name = record + offsetof(struct dirent64, d_name);
      pos += record_length;
      if (IsDotOrDotDot(name)) continue;
      ++m_stats.entries_seen;
      if (type == DT_UNKNOWN) type = TypeByStat(fd, name);
      if (type == DT_REG) {
        files.Add(name, std::strlen(name));
      } else if (type == DT_DIR) {
        subdirs.Add(name, std::strlen(name));
      }
      // Links, FIFOs, sockets and devices are neither reported nor entered.
    }
  }
}

// Runs the producer on a helper thread, up to `capacity` listings ahead of the consumer. Each side
// that has to wait is woken only once there is a batch of work for it (a few listings ready, or
// half the queue free), so the two threads do not take turns at every directory.
class ReadAhead {
 public:
  ReadAhead(ListingProducer& producer, size_t capacity, std::stop_token user_stop)
      : m_producer(producer),
        m_capacity(capacity),
        m_wake_consumer_at(std::min<size_t>(capacity, 8)),
        m_wake_producer_at(capacity / 2),
        m_user_stop(std::move(user_stop)),
        m_helper([this](std::stop_token own) { Produce(own); }) {}

  // The next listing in walk order; false at the end or on a stop request.
  bool Next(Listing& out) {
    std::unique_lock lock(m_mutex);
    if (m_queue.empty() && !m_done) {
      m_consumer_waiting = true;
      m_ready.wait(lock, m_user_stop,
                   [this] { return m_queue.size() >= m_wake_consumer_at || m_done; });
      m_consumer_waiting = false;
    }
    if (m_queue.empty()) return false;
    out = std::move(m_queue.front());
    m_queue.pop_front();
    const bool wake = m_producer_waiting && m_queue.size() <= m_wake_producer_at;
    lock.unlock();
    if (wake) m_space.notify_one();
    return true;
  }

  // Stops the helper and waits for it; the producer's counts are final after this.
  void Finish() {
    m_helper.request_stop();
    if (m_helper.joinable()) m_helper.join();
  }

 private:
  void Produce(std::stop_token own) {
    Listing listing;
    while (!own.stop_requested() && m_producer.Next(listing)) {
      std::unique_lock lock(m_mutex);
      if (m_queue.size() >= m_capacity) {
        m_producer_waiting = true;
        const bool room =
            m_space.wait(lock, own, [this] { return m_queue.size() <= m_wake_producer_at; });
        m_producer_waiting = false;
        if (!room) break;
      }
      m_queue.push_back(std::move(listing));
      const bool wake = m_consumer_waiting && m_queue.size() >= m_wake_consumer_at;
      lock.unlock();
      if (wake) m_ready.notify_one();
      listing = Listing{};
    }
    {
      std::lock_guard lock(m_mutex);
      m_done = true;
    }
    m_ready.notify_all();
  }

  ListingProducer& m_producer;
  const size_t m_capacity;
  const size_t m_wake_consumer_at;
  const size_t m_wake_producer_at;
  std::stop_token m_user_stop;
  std::mutex m_mutex;
  std::condition_variable_any m_ready;
  std::condition_variable_any m_space;
  std::deque<Listing> m_queue;
  bool m_done = false;
  bool m_consumer_waiting = false;
  bool m_producer_waiting = false;
  std::jthread m_helper;  // last, so it is stopped and joined before the rest goes
};

// Reports the files of each listing in turn, on the calling thread.
template <typename NextListing>
void ReportAll(NextListing next, const WalkCallback& on_file, const std::stop_token& stop,
               WalkStats& stats) {
  Listing listing;
  std::string path;
  while (!stop.stop_requested() && next(listing)) {
    path.assign(listing.path);
    const size_t base = path.size();
    const int dir_fd = listing.dir->Get();
    for (size_t i = 0; i < listing.files.Size(); ++i) {
      if (stop.stop_requested()) break;
      const char* name = listing.files.NameAt(i);
      const size_t length = listing.files.LengthAt(i);
      path.resize(base);
      path.append(name, length);
      const WalkEntry entry(dir_fd, name, length, path);
      ++stats.files_reported;
      on_file(entry);
    }
  }
  stats.stopped = stop.stop_requested();
}

}  // namespace

WalkStats WalkDirectory(std::string_view root, const WalkCallback& on_file, std::stop_token stop,
                        WalkOptions options) {
  ListingProducer producer(root, stop);
  WalkStats stats;
  if (options.read_ahead == 0) {
    ReportAll([&producer](Listing& out) { return producer.Next(out); }, on_file, stop, stats);
  } else {
    ReadAhead ahead(producer, options.read_ahead, stop);
    ReportAll([&ahead](Listing& out) { return ahead.Next(out); }, on_file, stop, stats);
    ahead.Finish();
  }
  const WalkStats& walked = producer.Stats();
  stats.unreadable_dirs = walked.unreadable_dirs;
  stats.entries_seen = walked.entries_seen;
  stats.loops_skipped = walked.loops_skipped;
  return stats;
}

}  // namespace quelvane
