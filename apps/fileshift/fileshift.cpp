// fileshift source destination: moves one file and prints nothing; the exit
// status is 0 when the file was moved and 1 on any failure.
#include "apps/fileshift/file_move.h"

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  return fileshift::MoveFile(argv[1], argv[2]) == fileshift::MoveStatus::kMoved ? 0 : 1;
}
