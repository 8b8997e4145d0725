// Records, through the platform's I/O hooks, every write and flush that the
// process makes to one file, and checks at each write the rule the commit
// protocol rests on: no block is written inside the log that the header at
// offset 0 points at (as the file stands at that moment), except the header
// itself. Only one WriteTrace (or FaultFile) may exist at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qbx::store::test {

class WriteTrace {
 public:
  struct Event {
    bool flush = false;
    std::uint64_t offset = 0;  // of a write
    std::size_t length = 0;
  };

  explicit WriteTrace(const std::string& path);
  ~WriteTrace();
  WriteTrace(const WriteTrace&) = delete;
  WriteTrace& operator=(const WriteTrace&) = delete;

  const std::vector<Event>& events() const { return events_; }
  // One text per write that broke the rule.
  const std::vector<std::string>& violations() const { return violations_; }

  // Called by the hooks.
  void write(int fd, const void* buffer, std::size_t length, std::uint64_t offset);
  void flush(int fd);

 private:
  bool ours(int fd) const;

  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t logStart_ = 0;  // the bounds the header at offset 0 holds
  std::uint64_t logEnd_ = 0;
  std::vector<Event> events_;
  std::vector<std::string> violations_;
};

}  // namespace qbx::store::test
