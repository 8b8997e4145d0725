// The internal error numbers of the store. A failed consistency check raises
// one of these through raiseInternalError; the program receives it as the
// driver error code of error 90, so the numbers are part of the interface and
// never change.
#pragma once

namespace qbx::store {

// Entry tree cursors.
inline constexpr int kErrCursorInsertReaderMode = 231;    // cursor insert while in reader mode
inline constexpr int kErrCursorInsertRefresh = 232;       // cursor insert: header refresh failed
inline constexpr int kErrCursorFetchRefresh = 256;        // cursor fetch: header refresh failed
inline constexpr int kErrCursorDeleteParentLink = 300;    // cursor delete: parent does not link to the entry
inline constexpr int kErrCursorMarkPageReaderMode = 337;  // cursor mark page while in reader mode

// Page expansion: a literal overruns the expected output or the stored input.
inline constexpr int kErrExpandLiteral = 522;
// Page expansion: a repeat overruns the expected output or comes before any byte.
inline constexpr int kErrExpandRepeat = 530;

// In-page tree.
inline constexpr int kErrPageInsertDuplicate = 706;  // in-page insert: an equal key is in the page
inline constexpr int kErrPageRemoveMissing = 780;    // in-page remove: the entry is not in the page
inline constexpr int kErrNewEntryTooLong = 824;      // new entry: key + data length above 15093

// Header refreshes and the record number counter.
inline constexpr int kErrGetRootRefresh = 1013;               // get root page: header refresh failed
inline constexpr int kErrTruncateRefresh = 1143;              // truncate: header refresh failed
inline constexpr int kErrNextRecordNumberReaderMode = 1163;   // next record number in reader mode
inline constexpr int kErrNextRecordNumberRefresh = 1164;      // next record number: refresh failed
inline constexpr int kErrRecordNumbersExhausted = 1173;       // counter's top byte reached 0xFE

// Entry tree updates.
inline constexpr int kErrInsertReaderMode = 1194;    // insert while in reader mode
inline constexpr int kErrDeleteReaderMode = 1203;    // delete while in reader mode
inline constexpr int kErrSplitTooFewEntries = 1364;  // split of a page with one entry or none

// Page images and decoding.
inline constexpr int kErrImageLength = 1477;  // stored length does not fit the region's slot (or
                                              // the page header's lengths are implausible)
inline constexpr int kErrPageDecode = 1602;   // decoding does not end exactly at the expanded
                                              // length, or the decoded tree is inconsistent
inline constexpr int kErrEncodeOverEstimate = 1659;  // encoded entries exceed the size estimate
inline constexpr int kErrEncodeTooLarge = 1678;      // the page needs more than 15104 bytes

// Slot allocator and page moves.
inline constexpr int kErrPageOutsideRegions = 1735;   // the page number lies in no region
inline constexpr int kErrMakeRoomAboveTooMany = 1781; // make room above: more units than the class
inline constexpr int kErrMovePageEmpty = 1891;        // move page: the page holds no entry
inline constexpr int kErrMovePageNoSeparator = 1894;  // move page: no separator above the leaves

// Block I/O.
inline constexpr int kErrReadExactShort = 2172;       // read exact: fewer bytes than asked
inline constexpr int kErrReadLengthNotUnit = 2272;    // read: length not a multiple of 64
inline constexpr int kErrReadFailed = 2277;           // read: the operating system's read failed
inline constexpr int kErrWriteLengthNotUnit = 2286;   // write: length not a multiple of 64
inline constexpr int kErrReadSeek = 2341;             // read: the seek did not reach the offset

// Transactions.
inline constexpr int kErrJoinTransactionFull = 2183;  // 100 control-file paths already recorded

// Locks.
inline constexpr int kErrLockRecordWithReaderWriter = 2328;    // record lock mixed with reader/writer
inline constexpr int kErrUnlockRecordWithReaderWriter = 2352;  // record unlock mixed with reader/writer

}  // namespace qbx::store
