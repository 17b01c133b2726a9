// The one writer of every file the system produces (maps, metafiles,
// findings, captured frames, marked videos, reports), and the path checks
// that run before any output is opened.
//
// An AtomicFile writes under a temporary name in the target's folder; every
// write, flush, sync and close is checked and the system's reason kept.
// Commit() renames the finished file over the target, so the target is either
// its earlier content or the complete new one, never a mix. A file that is
// not committed (Discard(), destruction, a failed write) is removed.
//
// No exceptions and no GStreamer: the MDR model, the plug-ins, the player and
// the command-line tools all use it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fh {

class AtomicFile {
 public:
  explicit AtomicFile(std::string target = {});
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file beside the target (through a symbolic link the
  // folder of the file it names). A target that exists and is not a regular
  // file is refused. Discards whatever an earlier Open() left.
  bool Open();
  bool Open(std::string target);
  // Open(), then starts from a copy of the target's present content (none
  // when there is no target yet), for a file that grows across commits.
  bool OpenToAppend();

  // Appends bytes (buffered). A failed write makes every later call fail.
  bool Write(const void* data, std::size_t bytes);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  // Overwrites bytes already written, e.g. a header's size fields.
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t bytes);
  // Hands buffered bytes to the system.
  bool Flush();
  // Flush, fsync, close, rename over the target and sync the folder. On any
  // failure the temporary is removed and the target left as it was.
  bool Commit();
  // Removes the temporary file; the target is untouched.
  void Discard();

  // The temporary file's descriptor, for a writer that takes one (GStreamer's
  // fdsink); such a writer reports its own write errors. -1 when not open.
  int Descriptor() const { return fd_; }

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return !error_.empty(); }
  // Why the first failed step failed (the system's reason, e.g. "No space
  // left on device", or "is a folder"); empty while every step succeeded.
  const std::string& Error() const { return error_; }
  const std::string& Target() const { return target_; }
  const std::string& TempPath() const { return temp_; }
  // Bytes in the file so far (written or buffered).
  std::uint64_t Size() const { return size_; }

 private:
  bool Fail(int err);
  bool WriteAll(const void* data, std::size_t bytes);
  bool WriteAllAt(std::uint64_t offset, const void* data, std::size_t bytes);

  std::string target_;
  std::string final_;  // target_ with a leading symbolic link resolved
  std::string temp_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::vector<unsigned char> buffer_;
  std::string error_;
};

// Writes a whole file at once through AtomicFile.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t bytes, std::string* error);

// What a path names, following symbolic links.
enum class PathKind { kMissing, kRegular, kDirectory, kOther, kUnreachable };
PathKind KindOfPath(const std::string& path);

// The identity of a file: device and inode when it exists; for a file that
// does not exist yet, its folder's device and inode plus its name. Two paths
// with equal identities name the same file, whatever their spelling
// ("./a" and "a"), symbolic links or hard links.
struct FileIdentity {
  bool valid = false;
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;  // only for a file that does not exist

  bool operator==(const FileIdentity& other) const;
};
FileIdentity IdentifyFile(const std::string& path);
bool SameFile(const std::string& a, const std::string& b);

// True when `path` may be used as an output: a regular file or a new file in
// an existing folder. Otherwise false with the reason in `error` ("is a
// folder", "is not a regular file", "No such file or directory", ...).
bool CheckOutputPath(const std::string& path, std::string* error);

// True when `path` is a readable regular file; otherwise the reason ("is a
// folder", "is not a regular file", strerror).
bool CheckInputPath(const std::string& path, std::string* error);

// Copies `path` into a fixed buffer of `capacity` bytes (terminator
// included). A path that does not fit is refused, never cut: the buffer is
// then left as it was.
bool CopyPathToBuffer(const char* path, char* buffer, std::size_t capacity);

}  // namespace fh
