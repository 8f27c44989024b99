// Formatting for the trace record's text sink.

#include "lib/ops/tin_trace.h"

#include <cstdarg>
#include <cstdio>

namespace ops {

void TinTracef(const TinTrace* trace, const char* format, ...) {
  if (trace == nullptr || trace->text == nullptr) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  trace->text(trace->ctx, line);
}

}  // namespace ops
