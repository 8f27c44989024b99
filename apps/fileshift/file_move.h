// Moving one file without ever losing it.
//
// MoveFile renames the source onto the destination when both lie on one file
// system (atomic). Otherwise it copies the bytes into a temporary file beside
// the destination, checks every write, flushes it to the disk, gives it the
// source's permission bits and renames it over the destination; only then is
// the source deleted. On any failure the source is untouched and no partial
// destination is left behind. A destination that is the source itself (the
// same path, a hard link, or a symbolic link to it) is refused.
#pragma once

namespace fileshift {

enum class MoveStatus {
  kMoved = 0,
  kSameFile,        // destination is the source (device and inode)
  kSourceMissing,   // cannot be examined or is not a regular file (nor a link)
  kDestinationBad,  // a directory, or its folder cannot take a new file
  kCopyFailed,      // reading, writing, flushing or renaming failed
};

// Moves source to destination. Deleting the source after a successful copy
// is not checked: the move has succeeded once the destination is in place.
MoveStatus MoveFile(const char* source, const char* destination);

// The copy path alone, as used across file systems (tests call it directly
// to reach it on one file system).
MoveStatus CopyThenDelete(const char* source, const char* destination);

}  // namespace fileshift
