// Posting stores the text in the ring (as the console has always read it) and
// queues a copy with its level. The copy is what gets drawn: the ring alone
// would let a long burst overwrite texts that were queued but not yet drawn.
// A synchronous post first draws whatever is queued, so lines never appear
// out of order.
#include "interp/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace interp {

static int StoreInRing(MessageRing& ring, const char* text, size_t len) {
  if (len + 1 > static_cast<size_t>(MESSAGE_RING_SIZE)) len = MESSAGE_RING_SIZE - 1;
  if (ring.offset + len + 1 > static_cast<size_t>(MESSAGE_RING_SIZE)) ring.offset = 0;
  memcpy(ring.text + ring.offset, text, len);
  ring.text[ring.offset + len] = '\0';
  ring.offset += static_cast<int>(len) + 1;
  if (ring.offset >= MESSAGE_RING_SIZE) ring.offset = 0;
  return ring.offset;
}

static void Draw(GlobalBlock& g, int level, const char* text) {
  if (g.sink) g.sink(level, text);
}

void DeliverMessages(GlobalBlock& g) {
  while (!g.ring.queue.empty()) {
    QueuedMessage m = std::move(g.ring.queue.front());
    g.ring.queue.pop_front();
    Draw(g, m.level, m.text.c_str());
  }
}

void DrawLineNow(GlobalBlock& g, int level, const char* text) {
  if (!g.loop_running) return;
  DeliverMessages(g);
  Draw(g, level, text);
}

int PostText(int level, const char* format, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, sizeof buf, format ? format : "", ap);
  va_end(ap);
  size_t len = strlen(buf);
  if (len > 0 && buf[len - 1] == '\n') buf[--len] = '\0';
  GlobalBlock* g = osb;
  if (!g) return 0;
  const int offset = StoreInRing(g->ring, buf, len);
  if (g->loop_running) {
    if (level < 0) {
      DrawLineNow(*g, -level, buf);
    } else {
      g->ring.queue.push_back({level, std::string(buf, len)});
    }
  }
  return offset;
}

void PostLines(int level, const char* text) {
  GlobalBlock* g = osb;
  if (!g || !text) return;
  const char* p = text;
  while (const char* lf = strchr(p, '\n')) {
    const size_t len = static_cast<size_t>(lf - p);
    StoreInRing(g->ring, p, len);
    if (g->loop_running) g->ring.queue.push_back({level < 0 ? -level : level, std::string(p, len)});
    p = lf + 1;
  }
}

void StdoutSink(int level, const char* text) {
  fputs(text, stdout);
  fputc('\n', stdout);
  if (level >= 4) {
    fflush(stdout);
    fputs(text, stderr);
    fputc('\n', stderr);
    fflush(stderr);
  }
}

}  // namespace interp
