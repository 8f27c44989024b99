// Console messages and error reporting.
//
// Levels: 1 echo of input, 2 information and usage texts, 3 warning, 4 error
// (error sound), 5 abort (exclamation sound); above 5 is drawn as 5. A
// negative level is the same level delivered synchronously: the line has been
// drawn when PostText returns (for progress lines during long commands).
//
// Texts are shown only while the message loop runs (g.loop_running); before
// that they are stored in the 2048-byte ring and never shown. Queued texts
// keep their own copy until they are drawn, so a burst of output longer than
// the ring loses nothing; they are drawn in order by DeliverMessages, which
// the main loop calls each time a command or script line has run.
#pragma once

#include "interp/global.h"
#include "platform/report.h"

namespace interp {

using platform::AssertionFailed;
using platform::ReportError;

// Formats like printf (into at least 1024 characters), drops one trailing
// line feed, stores the text in the ring and queues (level >= 0) or draws
// (level < 0) it. Returns the new ring offset.
int PostText(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Posts each line of text that ends with a line feed as its own message at
// the level, always queued. Text after the last line feed is not posted.
void PostLines(int level, const char* text);

// Draws every queued message, oldest first, through the sink.
void DeliverMessages(GlobalBlock& g);

// Draws one line at once (flushing the queue first so order is kept): used
// for the echo of script lines.
void DrawLineNow(GlobalBlock& g, int level, const char* text);

// The sink of batch runs: standard output, one line each; levels 4 and up
// also to standard error.
void StdoutSink(int level, const char* text);

}  // namespace interp
