#include "filterhost/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace fh {

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a symbolic link finally names, or the path itself.
std::string ResolveLink(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

std::string KindReason(PathKind kind) {
  switch (kind) {
    case PathKind::kDirectory: return "is a folder";
    case PathKind::kOther: return "is not a regular file";
    default: return {};
  }
}

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() { Discard(); }

// The first failure ends the file: the temporary goes at once, so that
// nothing half-written is left even if the process ends right after.
bool AtomicFile::Fail(int err) {
  if (error_.empty()) error_ = std::strerror(err);
  Discard();
  return false;
}

bool AtomicFile::Open(std::string target) {
  target_ = std::move(target);
  return Open();
}

bool AtomicFile::Open() {
  Discard();
  error_.clear();
  size_ = 0;
  if (target_.empty()) return Fail(ENOENT);
  final_ = ResolveLink(target_);
  const PathKind kind = KindOfPath(final_);
  if (kind == PathKind::kDirectory || kind == PathKind::kOther) {
    error_ = KindReason(kind);
    return false;
  }
  const std::string folder = FolderOf(final_);
  const std::string stem = folder + "/." + NameOf(final_) + ".";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06x.part", static_cast<unsigned>(random() & 0xFFFFFF));
    std::string temp = stem + suffix;
    // 0666 as fopen would: the process's umask applies.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temp_ = std::move(temp);
      buffer_.reserve(kBufferBytes);
      return true;
    }
    if (errno != EEXIST) return Fail(errno);
  }
  return Fail(EEXIST);
}

bool AtomicFile::OpenToAppend() {
  if (!Open()) return false;
  const int in = ::open(final_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno == ENOENT || Fail(errno);
  std::vector<unsigned char> chunk(kBufferBytes);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = Fail(errno);
    if (n <= 0 || !ok) break;
    ok = Write(chunk.data(), static_cast<std::size_t>(n));
    if (!ok) break;
  }
  ::close(in);
  return ok;
}

bool AtomicFile::WriteAll(const void* data, std::size_t bytes) {
  const auto* at = static_cast<const unsigned char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, at, bytes);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(EIO);
    at += n;
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::WriteAllAt(std::uint64_t offset, const void* data, std::size_t bytes) {
  const auto* at = static_cast<const unsigned char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::pwrite(fd_, at, bytes, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(EIO);
    at += n;
    offset += static_cast<std::uint64_t>(n);
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::Write(const void* data, std::size_t bytes) {
  if (Failed()) return false;
  if (fd_ < 0) return Fail(EBADF);
  size_ += bytes;
  if (buffer_.size() + bytes > kBufferBytes) {
    if (!Flush()) return false;
    if (bytes >= kBufferBytes) return WriteAll(data, bytes);
  }
  const auto* at = static_cast<const unsigned char*>(data);
  buffer_.insert(buffer_.end(), at, at + bytes);
  return true;
}

bool AtomicFile::WriteAt(std::uint64_t offset, const void* data, std::size_t bytes) {
  if (Failed()) return false;
  if (fd_ < 0) return Fail(EBADF);
  // Only bytes the file already holds may be rewritten: a header never runs
  // ahead of the content it describes.
  if (offset + bytes > size_) return Fail(EINVAL);
  if (!Flush()) return false;
  return WriteAllAt(offset, data, bytes);
}

bool AtomicFile::Flush() {
  if (Failed()) return false;
  if (fd_ < 0) return Fail(EBADF);
  if (buffer_.empty()) return true;
  if (!WriteAll(buffer_.data(), buffer_.size())) return false;
  buffer_.clear();
  return true;
}

bool AtomicFile::Commit() {
  if (Failed()) return false;
  if (fd_ < 0) return Fail(EBADF);
  if (!Flush()) return false;
  if (::fsync(fd_) != 0) return Fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Fail(errno);
  if (::rename(temp_.c_str(), final_.c_str()) != 0) return Fail(errno);
  temp_.clear();
  // The rename itself is durable once the folder is synced.
  const int dir = ::open(FolderOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  buffer_.clear();
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t bytes, std::string* error) {
  AtomicFile file(path);
  const bool ok = file.Open() && file.Write(data, bytes) && file.Commit();
  if (!ok && error) *error = file.Error();
  return ok;
}

PathKind KindOfPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? PathKind::kMissing : PathKind::kUnreachable;
  }
  if (S_ISREG(st.st_mode)) return PathKind::kRegular;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
  return valid && other.valid && exists == other.exists && dev == other.dev && ino == other.ino && name == other.name;
}

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity id;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    id.valid = id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    return id;
  }
  if (errno != ENOENT) return id;
  // A dangling link names the file it would create.
  const std::string target = ResolveLink(path);
  std::string name = NameOf(target);
  if (name.empty() || name == "." || name == "..") return id;
  if (::stat(FolderOf(target).c_str(), &st) != 0) return id;
  id.valid = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.name = std::move(name);
  return id;
}

bool SameFile(const std::string& a, const std::string& b) { return IdentifyFile(a) == IdentifyFile(b); }

bool CheckOutputPath(const std::string& path, std::string* error) {
  std::string reason;
  switch (KindOfPath(path)) {
    case PathKind::kRegular: return true;
    case PathKind::kMissing: {
      const PathKind folder = KindOfPath(FolderOf(ResolveLink(path)));
      if (folder == PathKind::kDirectory) return true;
      reason = folder == PathKind::kMissing ? std::strerror(ENOENT) : std::strerror(ENOTDIR);
      break;
    }
    case PathKind::kUnreachable: reason = std::strerror(errno); break;
    case PathKind::kDirectory: reason = KindReason(PathKind::kDirectory); break;
    case PathKind::kOther: reason = KindReason(PathKind::kOther); break;
  }
  if (error) *error = reason;
  return false;
}

bool CheckInputPath(const std::string& path, std::string* error) {
  std::string reason;
  switch (KindOfPath(path)) {
    case PathKind::kRegular:
      if (::access(path.c_str(), R_OK) == 0) return true;
      reason = std::strerror(errno);
      break;
    case PathKind::kMissing: reason = std::strerror(ENOENT); break;
    case PathKind::kUnreachable: reason = std::strerror(errno); break;
    case PathKind::kDirectory: reason = KindReason(PathKind::kDirectory); break;
    case PathKind::kOther: reason = KindReason(PathKind::kOther); break;
  }
  if (error) *error = reason;
  return false;
}

bool CopyPathToBuffer(const char* path, char* buffer, std::size_t capacity) {
  if (!path || !buffer || capacity == 0) return false;
  const std::size_t length = std::strlen(path);
  if (length >= capacity) return false;
  std::memcpy(buffer, path, length + 1);
  return true;
}

}  // namespace fh
