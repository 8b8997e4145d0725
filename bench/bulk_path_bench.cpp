// The conversion's bulk path through the driver entry, on catalogue records:
// a streamed source read with NEXT, APPENDs into a streamed target, the
// target's FLUSH and its BUILD of all keys. Each phase is timed on its own
// and reported in records per second (the counters stream_rps, append_rps,
// flush_rps and build_rps); the benchmark's own time is the whole path.
//
//   bench_bulk_path [--benchmark_filter=...] [--benchmark_repetitions=N]
//
// Files go to $TMPDIR (else /tmp), in a directory of their own that is
// removed afterwards.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "convert23/catalogue_file.h"
#include "fileaccess/call.h"
#include "fileaccess/error_state.h"
#include "qbx/driver/driver_entry.h"
#include "qbx/sample/movie_sample.h"

namespace {

using Clock = std::chrono::steady_clock;
using convert23::CatalogueFile;
using convert23::Layout;
using fileaccess::Call;
using fileaccess::DriverOp;

constexpr std::int32_t kReadWriteDenyWrite = 0x22;
constexpr std::uint64_t kSeed = 5;

class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/qbx-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Fails the benchmark when the last operation posted an error.
bool ok(benchmark::State& state, const char* what) {
  if (fileaccess::ERRORCODE() == 0) return true;
  state.SkipWithError((std::string(what) + " failed: " + std::string(fileaccess::ERROR())).c_str());
  return false;
}

void BM_BulkPath(benchmark::State& state) {
  const auto records = static_cast<std::uint32_t>(state.range(0));
  ScratchDirectory dir;
  if (dir.path().empty()) {
    state.SkipWithError("no scratch directory");
    return;
  }
  const std::string sourcePath = dir.path() + "/source.rcx";
  qbx::sample::SampleOptions options;
  options.records = records;
  options.seed = kSeed;
  if (qbx::sample::writeSample(sourcePath, options, &qbx::driver::DriverEntry).error != 0) {
    state.SkipWithError("the sample source could not be written");
    return;
  }

  Clock::duration next{}, append{}, flush{}, build{};
  for (auto _ : state) {
    CatalogueFile source(Layout::kOld, 0);
    CatalogueFile target(Layout::kNew, fileaccess::kAttrCreate);
    source.block().driverEntry = &qbx::driver::DriverEntry;
    target.block().driverEntry = &qbx::driver::DriverEntry;
    if (!source.setName(sourcePath) || !target.setName(dir.path() + "/target.rcx")) return;
    fileaccess::clearError();
    static_cast<void>(Call(DriverOp::kOpen, source.block(), kReadWriteDenyWrite));
    static_cast<void>(Call(DriverOp::kCreate, target.block()));
    static_cast<void>(Call(DriverOp::kOpen, target.block(), kReadWriteDenyWrite));
    if (!ok(state, "OPEN or CREATE")) return;

    Clock::time_point t = Clock::now();
    static_cast<void>(Call(DriverOp::kStream, source.block()));
    static_cast<void>(Call(DriverOp::kStream, target.block()));
    static_cast<void>(Call(DriverOp::kSetFile, source.block()));
    next += Clock::now() - t;
    for (;;) {
      t = Clock::now();
      static_cast<void>(Call(DriverOp::kNext, source.block()));
      next += Clock::now() - t;
      if (fileaccess::ERRORCODE() != 0) break;
      // The layouts differ only in the value, which the benchmark leaves as
      // it is: the copy costs what AssignRecord's copy costs.
      std::copy(source.record().begin(), source.record().end(), target.record().begin());
      t = Clock::now();
      static_cast<void>(Call(DriverOp::kAppend, target.block()));
      append += Clock::now() - t;
      if (!ok(state, "APPEND")) return;
    }
    t = Clock::now();
    static_cast<void>(Call(DriverOp::kFlush, source.block()));
    static_cast<void>(Call(DriverOp::kFlush, target.block()));
    flush += Clock::now() - t;
    if (!ok(state, "FLUSH")) return;
    t = Clock::now();
    static_cast<void>(Call(DriverOp::kBuildFile, target.block()));
    build += Clock::now() - t;
    if (!ok(state, "BUILD")) return;
    static_cast<void>(Call(DriverOp::kClose, source.block()));
    static_cast<void>(Call(DriverOp::kClose, target.block()));
    if (!ok(state, "CLOSE")) return;
  }
  const double done = static_cast<double>(records) * static_cast<double>(state.iterations());
  auto rate = [done](Clock::duration d) { return seconds(d) > 0 ? done / seconds(d) : 0.0; };
  state.counters["stream_rps"] = rate(next);
  state.counters["append_rps"] = rate(append);
  state.counters["flush_rps"] = rate(flush);
  state.counters["build_rps"] = rate(build);
  state.SetItemsProcessed(static_cast<std::int64_t>(done));
}

BENCHMARK(BM_BulkPath)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
