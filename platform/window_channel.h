// Windows found by name and sent requests: each window that takes requests
// listens on a Unix datagram socket named after it, in $XDG_RUNTIME_DIR
// ("NAME.win") or, without that variable, in /tmp ("NAME.<uid>.win"), mode
// 0600. A request is one datagram, little-endian: u32 number, u32 text length
// (0-255), i64 first parameter, i64 second parameter, then the text bytes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct WindowRequest {
  uint32_t number = 0;
  int64_t first = 0;
  int64_t second = 0;
  std::string text;  // at most 255 bytes
};

inline constexpr size_t kWindowRequestHeader = 24;

std::string WindowSocketPath(const std::string& name);

// Encodes a request; the text is cut at 255 bytes.
std::string EncodeWindowRequest(const WindowRequest& r);
// Decodes one datagram; false when it is shorter than its header and text say.
bool DecodeWindowRequest(const void* data, size_t size, WindowRequest* r);

// 0 when a window of that name listens, 1 when no socket is there or nobody
// listens (a stale socket file is left alone).
int WindowFind(const std::string& name);

// Sends a request without blocking more than a second: 0 sent, 1 no window.
int WindowPost(const std::string& name, const WindowRequest& r);

// Opens the window's own socket (a stale one is replaced): a descriptor to
// poll and read, or -1. WindowClose removes the socket file.
int WindowListen(const std::string& name);
void WindowClose(const std::string& name, int fd);

// A client that posts many requests to one window: the socket is opened
// once, bound to an autobound abstract address so that the window can
// answer. A window that goes away makes every later post fail (dead); the
// client then posts nothing more.
struct WindowClient {
  int fd = -1;
  bool dead = false;
};
// 0 connected, 1 no window of that name listens.
int WindowConnect(WindowClient& c, const std::string& name);
// 0 sent; 1 not sent (no window, or it stopped taking requests for a second).
int WindowSend(WindowClient& c, const WindowRequest& r);
// Request 0: the window answers with its client width and height (two
// little-endian i32). 0 when the answer came within a second.
int WindowQueryClient(WindowClient& c, int* width, int* height);
void WindowDisconnect(WindowClient& c);

// The window's side of request 0: answers the sender with the client size.
void WindowAnswerClient(int fd, const void* address, unsigned address_length, int width, int height);

}  // namespace platform
