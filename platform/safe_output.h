// Output files that never destroy what they replace.
//
// Every command that writes a file writes it through a SafeOutput:
//
//   platform::SafeOutput out;
//   int s = platform::SafeCheckTarget("cities.txt", {source_path});  // refusals first
//   if (s == 0) s = platform::SafeOpen(out, "cities.txt");
//   if (s == 0) s = platform::SafeReserve(out, expected_bytes);      // optional
//   FILE* f = s == 0 ? platform::SafeStream(out) : nullptr;          // or write(out.fd, ...)
//   ... fprintf(f, ...) ...
//   if (s == 0) s = platform::SafeCommit(out);                       // only now is the target replaced
//
// The file is built in the target's directory (same file system, so the
// final rename is atomic) as an unnamed file (O_TMPFILE), so that a program
// killed at any moment, even by kill -9, leaves nothing behind: the kernel
// drops a file that no name and no process holds. SafeCommit, after a flush
// and an fsync, gives it the name ".<name>.XXXXXX.part" and renames that over
// the target. Where the file system has no unnamed files, the part is named
// from the start. Every other way out removes the temporary file and leaves
// the target exactly as it was: SafeAbandon, the destructor, a failed
// commit, and SIGINT/SIGTERM/SIGHUP (a handler removes every live named
// part, then lets the signal end the program as it would have). A named part
// left by kill -9 is removed by the next SafeOpen of the same target: live
// parts are held under flock(2), so only parts that no running program owns
// are taken.
//
// A target that is a character device or a pipe (/dev/stdout, a FIFO) has
// no directory entry to replace: it is written directly, and SafeCommit only
// flushes and closes it.
//
// A mapped output (object files) is a platform::PendingFile (mapped_file.h),
// which is built on this: the space is reserved with posix_fallocate before
// the file is mapped, so a full file system is a status, never a SIGBUS.
//
// Statuses (SafeStatus): 0 done; 1 the temporary file cannot be created (no
// such directory, no permission); 2 the file system is full (reserve, write,
// flush or commit); 3 another write, flush or rename failure; 4 the target is
// the same file (device and inode) as an input; 5 the target exists and is
// neither a regular file nor a device or pipe (a directory, a socket).
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

namespace platform {

enum SafeStatus {
  kSafeOk = 0,
  kSafeCannotCreate = 1,
  kSafeNoSpace = 2,
  kSafeWriteFailed = 3,
  kSafeSameAsInput = 4,
  kSafeNotRegular = 5,
};

struct SafeOutput {
  std::string target;      // the name the file gets on commit (a symlink's destination)
  std::string temp;        // the named temporary file, empty when none is open or it is unnamed
  int fd = -1;             // open on temp, read-write
  std::FILE* stream = nullptr;  // from SafeStream; owns fd once made
  int error = 0;           // errno of the first failure seen, 0 none
  bool direct = false;     // the target is a device or pipe, written in place
  bool unnamed = false;    // fd is an unnamed file in the target's directory, named at commit

  SafeOutput() = default;
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;
  ~SafeOutput();           // an uncommitted output is abandoned
};

// True when both paths name existing files with the same device and inode.
bool SameFile(const char* a, const char* b);
// True when path names an existing regular file (symlinks followed). Inputs
// are checked with this before any output is touched.
bool IsRegularFile(const char* path);

// The refusals to make before any output is opened: 5 when target exists and
// is not a regular file, a device or a pipe, 4 when it is the same file as one of the inputs
// (null or empty inputs are skipped), else 0.
int SafeCheckTarget(const char* target, std::initializer_list<const char*> inputs);

// Removes stale ".<name>.XXXXXX.part" files beside target that no running
// program holds; returns how many were removed.
int RemoveStaleParts(const char* target);

// Creates the temporary file beside target (after removing stale parts) and
// registers it for removal on SIGINT/SIGTERM/SIGHUP. Also refuses a target
// that exists and is not a regular file, device or pipe (5). The target is
// not touched.
int SafeOpen(SafeOutput& out, const char* target);
// Reserves bytes of disk space from offset 0 (posix_fallocate): 2 on a full
// file system. The file's length becomes at least bytes; SafeCommit cuts it
// back to what was written when a stream or SafeWrite was used, or to the
// length given to SafeCommit.
int SafeReserve(SafeOutput& out, std::int64_t bytes);
// Writes all n bytes at the current offset; 2 on a full file system.
int SafeWrite(SafeOutput& out, const void* data, std::size_t n);
// A buffered stream over the temporary file (made once; null on failure).
std::FILE* SafeStream(SafeOutput& out);
// Flushes, cuts the file to length (-1: to the current write offset),
// fsyncs and renames it over the target. On failure the temporary file is
// removed and the target left as it was.
int SafeCommit(SafeOutput& out, std::int64_t length = -1);
// Closes and removes the temporary file; the target stays as it was.
void SafeAbandon(SafeOutput& out);

// The message-ready reason for a status ("the file system is full", ...).
const char* SafeStatusText(int status);

}  // namespace platform
