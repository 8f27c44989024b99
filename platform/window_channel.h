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

}  // namespace platform
