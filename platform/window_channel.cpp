#include "platform/window_channel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

uint64_t GetLe(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

bool Address(const std::string& name, sockaddr_un* a) {
  std::string path = WindowSocketPath(name);
  if (path.size() >= sizeof(a->sun_path)) return false;
  memset(a, 0, sizeof(*a));
  a->sun_family = AF_UNIX;
  memcpy(a->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A client socket bound to an autobound abstract address, so that the window
// can answer.
int ClientSocket() {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un self{};
  self.sun_family = AF_UNIX;
  bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof(sa_family_t));
  return fd;
}

}  // namespace

std::string WindowSocketPath(const std::string& name) {
  const char* run = getenv("XDG_RUNTIME_DIR");
  if (run && *run) {
    std::string dir(run);
    if (dir.back() != '/') dir += '/';
    return dir + name + ".win";
  }
  return "/tmp/" + name + "." + std::to_string(getuid()) + ".win";
}

std::string EncodeWindowRequest(const WindowRequest& r) {
  std::string text = r.text.substr(0, 255);
  std::string out;
  PutLe(out, r.number, 4);
  PutLe(out, text.size(), 4);
  PutLe(out, static_cast<uint64_t>(r.first), 8);
  PutLe(out, static_cast<uint64_t>(r.second), 8);
  out += text;
  return out;
}

bool DecodeWindowRequest(const void* data, size_t size, WindowRequest* r) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (size < kWindowRequestHeader) return false;
  uint64_t length = GetLe(p + 4, 4);
  if (length > 255 || size < kWindowRequestHeader + length) return false;
  r->number = static_cast<uint32_t>(GetLe(p, 4));
  r->first = static_cast<int64_t>(GetLe(p + 8, 8));
  r->second = static_cast<int64_t>(GetLe(p + 16, 8));
  r->text.assign(reinterpret_cast<const char*>(p + kWindowRequestHeader), length);
  return true;
}

int WindowFind(const std::string& name) {
  sockaddr_un a;
  if (!Address(name, &a)) return 1;
  int fd = ClientSocket();
  if (fd < 0) return 1;
  // connect on a datagram socket succeeds only when somebody is bound there.
  int r = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  close(fd);
  return r == 0 ? 0 : 1;
}

int WindowPost(const std::string& name, const WindowRequest& req) {
  sockaddr_un a;
  if (!Address(name, &a)) return 1;
  int fd = ClientSocket();
  if (fd < 0) return 1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return 1;
  }
  std::string bytes = EncodeWindowRequest(req);
  int status = 1;
  for (int waited = 0; waited <= 1000; waited += 50) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(bytes.size())) {
      status = 0;
      break;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    struct pollfd p {fd, POLLOUT, 0};
    poll(&p, 1, 50);  // the window's queue is full: wait, a second at most
  }
  close(fd);
  return status;
}

int WindowListen(const std::string& name) {
  sockaddr_un a;
  if (!Address(name, &a)) return -1;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (WindowFind(name) == 1) unlink(a.sun_path);  // a stale socket of a window that is gone
  mode_t old = umask(0177);
  int r = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  umask(old);
  if (r != 0) {
    close(fd);
    return -1;
  }
  chmod(a.sun_path, 0600);
  return fd;
}

void WindowClose(const std::string& name, int fd) {
  if (fd < 0) return;
  close(fd);
  unlink(WindowSocketPath(name).c_str());
}

int WindowConnect(WindowClient& c, const std::string& name) {
  WindowDisconnect(c);
  c.dead = false;
  sockaddr_un a;
  if (!Address(name, &a)) return 1;
  c.fd = ClientSocket();
  if (c.fd < 0) return 1;
  if (connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    WindowDisconnect(c);
    return 1;
  }
  return 0;
}

int WindowSend(WindowClient& c, const WindowRequest& r) {
  if (c.fd < 0 || c.dead) return 1;
  const std::string bytes = EncodeWindowRequest(r);
  for (int waited = 0; waited <= 1000; waited += 50) {
    const ssize_t n = send(c.fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(bytes.size())) return 0;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    struct pollfd p {c.fd, POLLOUT, 0};
    poll(&p, 1, 50);  // the window's queue is full: wait, a second at most
  }
  c.dead = true;  // gone, or not taking requests: drawing stops here
  return 1;
}

int WindowQueryClient(WindowClient& c, int* width, int* height) {
  WindowRequest r;
  r.number = 0;
  if (WindowSend(c, r) != 0) return 1;
  struct pollfd p {c.fd, POLLIN, 0};
  if (poll(&p, 1, 1000) != 1) return 1;
  unsigned char answer[8];
  if (recv(c.fd, answer, sizeof answer, MSG_DONTWAIT) != 8) return 1;
  *width = static_cast<int>(static_cast<int32_t>(GetLe(answer, 4)));
  *height = static_cast<int>(static_cast<int32_t>(GetLe(answer + 4, 4)));
  return 0;
}

void WindowDisconnect(WindowClient& c) {
  if (c.fd >= 0) close(c.fd);
  c.fd = -1;
}

void WindowAnswerClient(int fd, const void* address, unsigned address_length, int width, int height) {
  std::string out;
  PutLe(out, static_cast<uint32_t>(width), 4);
  PutLe(out, static_cast<uint32_t>(height), 4);
  sendto(fd, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL, static_cast<const sockaddr*>(address),
         static_cast<socklen_t>(address_length));
}

}  // namespace platform
