// The fault-injecting file layer: while a FaultFile lives, every disk-file
// transfer of the process goes through it (platform::setIoHooks). It counts
// reads, writes, flushes and truncations, and carries out the faults planned
// for the n-th call of a kind (counted from 1 since the last reset). Works in
// a fork()ed child too: the child inherits the plan and the counters.
// Only one FaultFile may exist at a time.
#pragma once

#include <cerrno>

namespace support {

class FaultFile {
 public:
  FaultFile();   // installs the hooks; no faults planned, counters at 0
  ~FaultFile();  // restores the real calls
  FaultFile(const FaultFile&) = delete;
  FaultFile& operator=(const FaultFile&) = delete;

  // Counters to 0, every plan dropped.
  void reset();

  // The n-th write fails with err (EIO, ENOSPC ...) and writes nothing; with
  // sticky, every write from the n-th on fails (a disk that stays full).
  void failWrite(int n, int err, bool sticky = false);
  // The n-th write stores only the first half of its bytes and reports that;
  // the rest of that transfer is then refused with 0 bytes (no error).
  void shortWrite(int n);
  // SIGKILL the process at the n-th write: before it writes anything, or
  // with torn set after it has stored the first half of its bytes.
  void killAtWrite(int n, bool torn = false);
  // The n-th flush fails with err; the data may or may not have reached the
  // disk, as with a real failed fdatasync.
  void failFlush(int n, int err = EIO);
  // SIGKILL the process at the n-th flush, before it syncs.
  void killAtFlush(int n);
  // The n-th read fails with err.
  void failRead(int n, int err = EIO);

  int reads() const;
  int writes() const;
  int flushes() const;
  int truncates() const;
};

}  // namespace support
