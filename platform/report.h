// Message boxes, the error box for conditions that should not happen, and
// the fatal assertion.
//
// A message box on Linux is a line on standard error ("title: text"), plus an
// SDL message box when a window system is up (the display code installs a
// box hook for that). Tests install their own hook to see what was shown.
//
// ReportError's box is titled "Ombrel error:<module>(<line>)", the module
// being the reporting source file's name without directory or extension; it
// returns and the program goes on. AssertionFailed shows
// "<module> (<line>) assertion (<expression>) failed" and ends the process
// with exit status 1.
#pragma once

namespace platform {

inline constexpr const char* PROGRAM_NAME = "Ombrel";

enum class BoxKind { Information, Warning, Error, Stop };

// Where boxes go. The hook receives the title and the body; when it returns
// true the box counts as shown and nothing is written to standard error.
using BoxHook = bool (*)(const char* title, const char* text, BoxKind kind);
void SetBoxHook(BoxHook hook);

void MessageBox(const char* title, const char* text, BoxKind kind);
void Beep();  // the system sound: the terminal bell, only on a terminal

void ReportError(const char* text, int line = __builtin_LINE(),
                 const char* module = __builtin_FILE());

[[noreturn]] void AssertionFailed(const char* module, int line, const char* expression);

// The module name as boxes show it: "interp/messages.cpp" -> "messages".
void ModuleName(const char* file, char* out, int size);

}  // namespace platform

#define OMBREL_ASSERT(cond) \
  ((cond) ? (void)0 : ::platform::AssertionFailed(__FILE__, __LINE__, #cond))
