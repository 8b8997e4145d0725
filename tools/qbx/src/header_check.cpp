#include "header_check.h"

#include <algorithm>
#include <array>

#include "fileaccess/error_state.h"
#include "qbx/store/disk_file.h"
#include "qbx/store/file_header.h"
#include "qbx/store/format.h"
#include "qbx/store/internal_error.h"

namespace qbx::inspector {

namespace format = store::format;

std::string describeError(int code, int internalError) {
  std::string text = "error " + std::to_string(code) + " " + fileaccess::errorText(code);
  if (internalError != 0) text += " (internal error " + std::to_string(internalError) + ")";
  return text;
}

namespace {

void checkRegions(const store::FileHeader& h, ProblemLog& log) {
  if (h.regionStart(1) != 0) {
    log.problem("header: region 1 starts at page " + std::to_string(h.regionStart(1)) +
                ", not at page 0");
  }
  if (h.regionStart(0) != 0 || h.regionEnd(0) != 0) {
    log.problem("header: region 0, which holds no pages, is not empty");
  }
  for (int c = 1; c <= format::kMaxClass; ++c) {
    const std::uint32_t start = h.regionStart(c);
    const std::uint32_t end = h.regionEnd(c);
    const std::string name = "header: region " + std::to_string(c);
    if (start > end) {
      log.problem(name + " ends at page " + std::to_string(end) + ", before its start " +
                  std::to_string(start));
      continue;
    }
    if ((end - start) % static_cast<std::uint32_t>(c) != 0) {
      log.problem(name + " holds " + std::to_string(end - start) +
                  " page units, not a whole number of its " + std::to_string(c) + "-unit pages");
    }
    if (c < format::kMaxClass && end > h.regionStart(c + 1)) {
      log.problem(name + " ends at page " + std::to_string(end) + ", past the start " +
                  std::to_string(h.regionStart(c + 1)) + " of region " + std::to_string(c + 1));
    }
  }
}

}  // namespace

void reportHeaderProblems(const std::string& fullName, std::string_view password, ProblemLog& log) {
  store::QbxDiskFile disk;
  platform::OpenOptions options;
  options.access = platform::Access::kRead;
  options.share = platform::Share::kDenyNone;
  if (const int result = disk.open(fullName, options); result != 0) {
    log.problem("header: cannot be read: " + describeError(result));
    return;
  }
  disk.setPassword(password);
  store::FileHeader h;
  std::size_t got = 0;
  try {
    got = disk.read(0, h.bytes());
  } catch (const store::InternalError& error) {
    log.problem("header: cannot be read: " + describeError(90, error.number));
    return;
  }
  if (got < format::kHeaderSize) {
    log.problem("header: the file is " + std::to_string(got) +
                " bytes long, shorter than its 512-byte header");
    return;
  }
  if (!h.hasMagic()) {
    const auto magic = std::span(h.bytes()).subspan(format::kHeaderMagic, 4);
    std::string shown;
    for (std::uint8_t b : magic) shown += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
    log.problem("header: the bytes at offset 14 are \"" + shown +
                "\", not \"qUiL\": not a QBX file" +
                (password.empty() ? std::string(", or one that needs a password")
                                  : std::string(", or not this password's")));
    return;
  }
  checkRegions(h, log);
  if (h.logicalEnd() >= format::kLockBase) {
    log.problem("header: the logical end " + std::to_string(h.logicalEnd()) +
                " lies in the lock bytes (0x80000000 and up)");
  }
  if (h.logStart() >= format::kLockBase || h.logEnd() >= format::kLockBase) {
    log.problem("header: the log area " + std::to_string(h.logStart()) + " to " +
                std::to_string(h.logEnd()) + " lies in the lock bytes");
  }
  if (h.changeCount() != 0 && !h.regionsEmpty()) {
    const std::int32_t root = h.rootPage();
    bool atSlot = false;
    for (int c = 1; c <= format::kMaxClass && root >= 0; ++c) {
      const auto page = static_cast<std::uint32_t>(root);
      if (h.regionStart(c) <= page && page < h.regionEnd(c)) {
        atSlot = (page - h.regionStart(c)) % static_cast<std::uint32_t>(c) == 0;
      }
    }
    if (!atSlot) {
      log.problem("header: the root page " + std::to_string(root) +
                  " is not the start of a slot in any region");
    }
  } else if (h.changeCount() != 0 && h.rootPage() < 0) {
    log.problem("header: the root page " + std::to_string(h.rootPage()) + " is negative");
  }
}

}  // namespace qbx::inspector
