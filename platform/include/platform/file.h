// Disk files on POSIX: positioned reads and writes, flush, set end, byte-range
// locks that belong to the open file (open-file-description locks), and the
// share modes of the system emulated across processes with lock bytes that
// the file format never uses. Errors are the layer's Windows-style numbers
// (see errors.h); 0 is success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

enum class Access { kRead, kWrite, kReadWrite };
enum class Share { kDenyNone, kDenyWrite, kDenyRead, kDenyAll };
enum class LockKind { kShared, kExclusive };

// Identity of a physical file: two names of one file (hard or symbolic link)
// give the same identity; two names that differ only in case are two files.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

struct OpenOptions {
  Access access = Access::kRead;
  Share share = Share::kDenyNone;
  bool create = false;  // create the file when it does not exist; an existing file keeps its contents
  // A read-only open still wants write locks on lock bytes: when set, open the
  // descriptor read-write if the file's permissions allow (writes stay the
  // caller's business to refuse), else read-only.
  bool writeLocks = false;
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens (or creates) the file. 2 missing file, 3 missing directory, 5 refused
  // by rights or by another open's sharing, 45 invalid name, others as errors.h.
  // Only regular files open (a directory, device or FIFO gives 5). Write
  // access opens the descriptor read-write (the share markers are read locks),
  // so a file that may be written but not read cannot be opened for writing.
  // An open File is closed first. A newly created file's directory is synced.
  [[nodiscard]] int open(const std::string& path, const OpenOptions& options);
  bool isOpen() const { return fd_ >= 0; }
  bool canWrite() const { return canWrite_; }

  // Reads up to buffer.size() bytes at offset, finishing partial transfers;
  // fewer bytes only at end of file. Sets *bytesRead. Returns 0 or an error.
  [[nodiscard]] int read(std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t* bytesRead);
  // Writes the whole buffer at offset. A transfer that stops short without an
  // error gives 5.
  [[nodiscard]] int write(std::uint64_t offset, std::span<const std::uint8_t> buffer);
  // fdatasync: the data and the file size reach the disk.
  [[nodiscard]] int flush();
  [[nodiscard]] int setEnd(std::uint64_t length);
  [[nodiscard]] int size(std::uint64_t* length) const;
  FileId id() const { return id_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor; every lock the file holds is released.
  void close();

  // Byte-range locks. A range overlapping one that this File already holds is
  // refused without asking the kernel (33), as is a range held by any other
  // open of the file, in this process or another (33). With wait set the call
  // blocks in the kernel until the range is free (not for ranges this File
  // holds: those give 33 at once). Unlock must name a held range exactly
  // (else 158, nothing changes). A range of length 0 or past the largest
  // 64-bit offset gives 87. The share-mode bytes 0x7FFFFF00 to 0x7FFFFF04
  // count as held by every open: a range touching them gives 33. On a File
  // that cannot write (read-only, without writeLocks) an exclusive lock is
  // taken as a shared one, so two such Files may both hold a range.
  [[nodiscard]] int lock(std::uint64_t offset, std::uint64_t length, LockKind kind, bool wait);
  int unlock(std::uint64_t offset, std::uint64_t length);
  // True when exactly this range is held through lock().
  bool holds(std::uint64_t offset, std::uint64_t length) const;

 private:
  struct Range {
    std::uint64_t offset;
    std::uint64_t length;
  };
  int fd_ = -1;
  bool canWrite_ = false;
  FileId id_{};
  std::string path_;
  std::vector<Range> held_;  // ordered by offset, never overlapping
};

// Whole-file operations. They open the file denying all first, so a file that
// another open holds is not removed or replaced (5).
[[nodiscard]] int removeFile(const std::string& path);
// Moves a file without ever replacing an existing target (80 when it exists).
[[nodiscard]] int moveFile(const std::string& from, const std::string& to);
// Copies through a temporary file in the target's directory, flushed and
// renamed into place; replaces an existing target when allowed.
[[nodiscard]] int copyFile(const std::string& from, const std::string& to, bool replace);
// Identity of a named file; 0 or an error.
[[nodiscard]] int fileId(const std::string& path, FileId* id);
// Makes the directory entry of a created, renamed or removed file durable
// (fsync of the directory that holds it). 0, or 29 when the sync fails;
// a directory that cannot be opened for syncing is passed over.
[[nodiscard]] int syncDirectoryOf(const std::string& path);

}  // namespace platform
