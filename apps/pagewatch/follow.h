// Following a growing text file, as pagewatch does: the bytes already in it,
// then whatever is appended. A file that is truncated starts again from its
// new beginning; a file that is replaced (a new file under the same name) is
// read to its end and the new one followed from its start, as `tail -F` does.
#pragma once

#include <string>
#include <sys/types.h>

namespace pagewatch {

struct Follower {
  std::string path;
  int fd = -1;
  off_t offset = 0;  // bytes of the open file already copied
  dev_t dev = 0;
  ino_t ino = 0;
};

// Opens the file; false while it cannot be opened.
bool FollowerOpen(Follower& f);
void FollowerClose(Follower& f);

// Copies what has become available since the last call to out_fd. Returns
// the number of bytes copied, or -1 when writing failed.
long long FollowerPump(Follower& f, int out_fd);

}  // namespace pagewatch
