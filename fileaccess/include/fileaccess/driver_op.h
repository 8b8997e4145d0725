// The driver operation codes 0 to 93 and the names the trace log prints for
// them. Codes outside 0 to 93 have the empty name.
#pragma once

#include <cstdint>
#include <string_view>

namespace fileaccess {

enum class DriverOp : std::int32_t {
  kNone = 0,             // (0)
  kAdd = 1,              // ADD
  kBof = 2,              // BOF
  kBuildFile = 3,        // BUILDfile
  kAppend = 4,           // APPEND
  kBuildDyn = 5,         // BUILDdyn
  kBuildKey = 6,         // BUILDkey
  kClose = 7,            // CLOSE
  kCommit = 8,           // COMMIT
  kCopy = 9,             // COPY
  kCreate = 10,          // CREATE
  kDelete = 11,          // DELETE
  kDuplicate = 12,       // DUPLICATE
  kEmpty = 13,           // EMPTY
  kEof = 14,             // EOF
  kGetFileKey = 15,      // GETfilekey
  kGetFilePtr = 16,      // GETfileptr
  kGetKeyPtr = 17,       // GETkeyptr
  kHoldFile = 18,        // HOLDfile
  kHoldFileSec = 19,     // HOLDfilesec
  kLockFile = 20,        // LOCKfile
  kLockFileSec = 21,     // LOCKfilesec
  kLogout = 22,          // LOGOUT
  kName = 23,            // NAME
  kNext = 24,            // NEXT
  kOpen = 25,            // OPEN
  kPack = 26,            // PACK
  kPointerFile = 27,     // POINTERfile
  kPointerKey = 28,      // POINTERkey
  kFlush = 29,           // FLUSH
  kPut = 30,             // PUT
  kPrevious = 31,        // PREVIOUS
  kRecordsFile = 32,     // RECORDSfile
  kRecordsKey = 33,      // RECORDSkey
  kBuildDynFilter = 34,  // BUILDdynfilter
  kUnused35 = 35,        // (35)
  kRelease = 36,         // RELEASE
  kRemove = 37,          // REMOVE
  kRename = 38,          // RENAME
  kUnused39 = 39,        // (39)
  kRollback = 40,        // ROLLBACK
  kSetFile = 41,         // SETfile
  kSetFileKey = 42,      // SETfilekey
  kSetFilePtr = 43,      // SETfileptr
  kSetKey = 44,          // SETkey
  kSetKeyKey = 45,       // SETkeykey
  kSetKeyPtr = 46,       // SETkeyptr
  kSetKeyKeyPtr = 47,    // SETkeykeyptr
  kShare = 48,           // SHARE
  kSkip = 49,            // SKIP
  kUnlock = 50,          // UNLOCK
  kAddFileLen = 51,      // ADDfilelen
  kBytes = 52,           // BYTES
  kGetFilePtrLen = 53,   // GETfileptrlen
  kPutFilePtr = 54,      // PUTfileptr
  kPutFilePtrLen = 55,   // PUTfileptrlen
  kStream = 56,          // STREAM
  kDuplicateKey = 57,    // DUPLICATEkey
  kWatch = 58,           // WATCH
  kAppendLen = 59,       // APPENDlen
  kSend = 60,            // SEND
  kPositionFile = 61,    // POSITIONfile
  kPositionKey = 62,     // POSITIONkey
  kResetFile = 63,       // RESETfile
  kResetKey = 64,        // RESETkey
  kNoMemo = 65,          // NOMEMO
  kRegetFile = 66,       // REGETfile
  kRegetKey = 67,        // REGETkey
  kNull = 68,            // NULL
  kSetNull = 69,         // SETNULL
  kSetNoNull = 70,       // SETNONULL
  kSetProperty = 71,     // SET_PROPERTY
  kGetProperty = 72,     // GET_PROPERTY
  kQueryKey = 73,        // QUERY_KEY
  kQueryView = 74,       // QUERY_VIEW
  kBlobYield = 75,       // BLOB_YIELD
  kBlobTake = 76,        // BLOB_TAKE
  kBlobSize = 77,        // BLOB_SIZE
  kBlobGetProp = 78,     // BLOB_GET_PROP
  kBlobSetProp = 79,     // BLOB_SET_PROP
  kBuffer = 80,          // BUFFER
  kSetView = 81,         // SETview
  kClear = 82,           // CLEAR
  kResetViewFile = 83,   // RESETviewfile
  kBuildEvent = 84,      // BUILDevent
  kSetPropertyKey = 85,  // SETPROPERTYkey
  kGetPropertyKey = 86,  // GETPROPERTYkey
  kInternal87 = 87,      // Internal
  kDoProperty = 88,      // DO_PROPERTY
  kDoPropertyKey = 89,   // DOPROPERTYkey
  kDoPropertyBlob = 90,  // DOPROPERTYblob
  kInternal91 = 91,      // Internal
  kInView = 92,          // INVIEW
  kEndView = 93,         // ENDVIEW
};

inline constexpr std::int32_t kDriverOpCount = 94;

constexpr std::int32_t opCode(DriverOp op) { return static_cast<std::int32_t>(op); }

// The operation's name, e.g. "NEXT", "BUILDfile", "(35)"; empty outside 0..93.
std::string_view driverOpName(std::int32_t code);
inline std::string_view driverOpName(DriverOp op) { return driverOpName(opCode(op)); }

}  // namespace fileaccess
