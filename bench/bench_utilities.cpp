// fileshift of a large file from one file system to another beside mv doing
// the same move in the same run (BENCH_FILESHIFT_MB, default 1024), and the
// delay from a line appended to a file to its appearance on pagewatch's
// output (the follow loop runs every 200 ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string Bin() {
  const char* b = getenv("OMBREL_BIN");
  return b ? b : OMBREL_BIN_DIR;
}

double Seconds(const std::string& cmd) {
  auto t0 = Clock::now();
  if (system(cmd.c_str()) != 0) fprintf(stderr, "failed: %s\n", cmd.c_str());
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool MakeFile(const std::string& path, long mb) {
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 13);
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  for (long i = 0; i < mb; ++i) {
    block[0] = static_cast<char>(i);
    if (fwrite(block.data(), 1, block.size(), f) != block.size()) {
      fclose(f);
      return false;
    }
  }
  return fclose(f) == 0;
}

void FileshiftBeside() {
  long mb = getenv("BENCH_FILESHIFT_MB") ? atol(getenv("BENCH_FILESHIFT_MB")) : 1024;
  std::string from = "/dev/shm/ombrel_bench_move", to = "./ombrel_bench_moved";
  struct stat a, b;
  if (stat("/dev/shm", &a) != 0 || stat(".", &b) != 0 || a.st_dev == b.st_dev) {
    printf("fileshift: skipped (no second file system at /dev/shm)\n");
    return;
  }
  double ours = 1e30, peer = 1e30;
  for (int round = 0; round < 2; ++round) {
    for (int which = 0; which < 2; ++which) {
      bool fileshift = (which + round) % 2 == 0;  // alternate which goes first
      unlink(to.c_str());
      if (!MakeFile(from, mb)) {
        printf("fileshift: skipped (cannot write %ld MiB to /dev/shm)\n", mb);
        return;
      }
      system("sync");
      double t = Seconds((fileshift ? Bin() + "/fileshift " : std::string("mv ")) + from + " " + to);
      (fileshift ? ours : peer) = std::min(fileshift ? ours : peer, t);
    }
  }
  unlink(to.c_str());
  printf("fileshift %ld MiB tmpfs->disk: %.2f s   mv: %.2f s   ratio fileshift/mv %.2f (goal <= 1.2)\n", mb, ours,
         peer, ours / peer);
}

void PagewatchDelay() {
  std::string file = "./ombrel_bench_follow.txt";
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int out[2];
  if (fd < 0 || pipe(out) != 0) return;
  int in[2];
  if (pipe(in) != 0) return;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execl((Bin() + "/pagewatch").c_str(), "pagewatch", file.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  close(in[0]);
  usleep(500000);
  std::vector<double> delays;
  for (int i = 0; i < 25; ++i) {
    usleep(1000 * (37 * i % 211));  // land anywhere in the 200 ms pass
    std::string line = "line " + std::to_string(i) + "\n";
    auto t0 = Clock::now();
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    size_t got = 0;
    char buf[256];
    while (got < line.size()) {
      struct pollfd p {out[0], POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) break;
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  close(fd);
  unlink(file.c_str());
  std::sort(delays.begin(), delays.end());
  if (delays.empty()) return;
  printf("pagewatch append-to-output delay over %zu lines: median %.0f ms, worst %.0f ms (goal < 250 ms)\n",
         delays.size(), delays[delays.size() / 2], delays.back());
}

}  // namespace

int main() {
  FileshiftBeside();
  PagewatchDelay();
  return 0;
}
