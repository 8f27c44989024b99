// helpgen: writes ombrel.html, the help page, from the program itself.
//
// Every command of the table is asked for its usage text the way a user asks:
// its handler is run with the argument "?" and what it posts is collected.
// Each handler runs in a child process of its own (with an alarm), so a
// handler that misbehaves costs only its own entry. Commands that take "?"
// as an ordinary argument are described from the fixed notes below instead.
// Beside the usage, every command has its one-line description
// (descriptions.h); a command without one stops helpgen with an error, so
// the page never leaves a command undescribed.
//
//   helpgen OUTPUT.html
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "interp/global.h"
#include "interp/handlers.h"
#include "tools/helpgen/descriptions.h"

namespace {

struct Note {
  const char* command;
  const char* text;
};

// Commands without a usage text ("?" is their argument, or they take none).
const Note kNotes[] = {
    {"Duration", "Duration (no arguments)"},
    {"Echo", "Echo text..."},
    {"Help", "Help (no arguments)"},
    {"Quit", "Quit (no arguments)"},
    {"ReportMemory", "ReportMemory (no arguments)"},
    {"ReportRunEnvironment", "ReportRunEnvironment (no arguments)"},
    {"Return", "Return (no arguments)"},
    {"Shell", "Shell command..."},
    {"Version", "Version (no arguments)"},
    {"Zzz", "Zzz (no arguments)"},
};

const char* DescriptionOf(const char* name) {
  for (const helpgen::Description& d : helpgen::kDescriptions)
    if (std::strcmp(d.command, name) == 0) return d.text;
  return nullptr;
}

const char* NoteFor(const char* name) {
  for (const Note& n : kNotes)
    if (std::strcmp(n.command, name) == 0) return n.text;
  return nullptr;
}

int g_out = -1;  // the pipe a child writes its posted lines to

void PipeSink(int, const char* text) {
  const std::string line = std::string(text) + "\n";
  if (write(g_out, line.data(), line.size()) < 0) _exit(3);
}

// The lines a handler posts for "?"; empty when it posted none or failed.
std::vector<std::string> UsageOf(const interp::CommandEntry& e) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return {};
  }
  if (pid == 0) {
    close(fds[0]);
    g_out = fds[1];
    alarm(5);
    auto* g = new interp::GlobalBlock();
    interp::osb = g;
    g->batch = true;
    g->headless = true;
    g->sink = PipeSink;
    g->loop_running = true;
    e.handler(*g, "?", e.variant, e.mode);
    while (!g->ring.queue.empty()) {
      PipeSink(g->ring.queue.front().level, g->ring.queue.front().text.c_str());
      g->ring.queue.pop_front();
    }
    _exit(0);
  }
  close(fds[1]);
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = all.find('\n', start)) != std::string::npos; start = lf + 1)
    lines.push_back(all.substr(start, lf - start));
  return lines;
}

std::string Html(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

const char* kIntroduction = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Ombrel help</title>
<style>
body { font-family: sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.4; }
code, pre { font-family: "DejaVu Sans Mono", monospace; }
pre { background: #f4f4f4; padding: 0.6em; }
table { border-collapse: collapse; width: 100%; }
td, th { border-bottom: 1px solid #ddd; padding: 0.25em 0.5em; vertical-align: top; text-align: left; }
td.n { color: #777; text-align: right; }
</style></head><body>
<h1>Ombrel</h1>
<p>Ombrel is a workbench for global geometry on the earth ellipsoid. You type commands at its
console, or run scripts of the same commands, to load a Voronoi cell index of the ellipsoid, import
point, line and region sets from coordinate text, derive new sets by geometric operations, measure
them, search them, trace satellite orbits over them, and draw all of it on a map, on HPGL plots and
in bitmap images.</p>
<h2>Starting</h2>
<ul>
<li><code>ombrel [script [label]]</code> in a terminal: the terminal is the console, the map is a window
(or off-screen without a display, or with <code>--headless</code>).</li>
<li><code>ombrel --batch script [label]</code>: runs the script line after line without pauses;
messages go to standard output (errors also to standard error) and the exit status is the error
level of the last command. Without a script, command lines are read from standard input.</li>
</ul>
<p>At start-up Ombrel reads its initialisation file <code>ombrel.oin</code> beside the program: directories,
workspace size, ellipsoid, console colours, map settings and drawing styles, one
<code>keyword = value</code> per line, each explained by the comment above it. A fault in that file stops
start-up with the line number and the reason.</p>
<h2>The console</h2>
<p>Left and Right move the caret, Home and End jump to the ends, Up and Down walk through the lines
entered before, Insert switches between inserting and overwriting, Delete and Backspace remove a
character, Escape clears the line and Enter runs it. Tab completes a command name from what is typed
(press it again for the next match, Shift+Tab for the previous one); Tab on an empty line walks
through all commands. Any command followed by <code>?</code> shows its usage.</p>
<h2>A worked example</h2>
<p>A script <code>world.omb</code> in the script directory:</p>
<pre>; import the land and the cities, keep the cities on land, and dump them
ImportRset land land110m.rgn
ImportPset cities cities.pts
DerivePsetInside onland cities land
IfErrorlevel 1 GoTo nothing
DumpObject onland
Echo done
GoTo end
:nothing
Echo no city on land?
:end
</pre>
<p>(<code>land110m.rgn</code> and <code>cities.pts</code> ship beside the program; a point file holds one
latitude and longitude per line.)</p>
<p>Run it with <code>ombrel --batch world</code>, or type <code>world</code> at the console (a word that is
not a command names a script). Each line is echoed, then its messages follow; <code>IfErrorlevel</code>
tests the status the previous command left: 0 success, 1 empty result, 2 not applicable, 4 failure.</p>
<h2>Measuring</h2>
<p><code>Area name [s|p|r] [m|k]</code> (or <code>Length</code>, the same command) reports the length of a
line set, or the area and perimeter of a region set, in kilometres (<code>m</code>: metres). The perimeter
is always the sum of the geodesic lengths of the ring edges. The area comes from one of four methods:</p>
<ul>
<li>no option: the cell method. Interior cells count whole from the table of cell areas; each boundary
cell counts the part of it that lies inside the rings. Within 1e-8 of the exact area on coastlines.</li>
<li><code>s</code>: triangles from the rings' centre to each edge, long edges cut along the geodesic.
Within 1e-10.</li>
<li><code>p</code>: as <code>s</code>, but an edge whose two ends share a latitude follows that parallel
instead of the geodesic, as map sheets and zones are drawn.</li>
<li><code>r</code>: the most accurate. Every edge is a geodesic on the ellipsoid and its area is integrated
exactly, edge by edge, by the series of GeographicLib's polygon area, summed with compensation; rings
around a pole are recognised by their crossings of the prime meridian. Within 1e-14 of the exact area.</li>
</ul>
<h2>Commands</h2>
<p>The commands in table order, which is also the order Tab completion offers them.</p>
<table><tr><th>#</th><th>Command</th><th>What it does</th><th>Usage</th></tr>
)";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: helpgen OUTPUT.html\n");
    return 2;
  }
  std::string page = kIntroduction;
  int undescribed = 0;
  for (int i = 0; i < interp::COMMAND_COUNT && interp::kCommandTable[i].name; ++i) {
    const interp::CommandEntry& e = interp::kCommandTable[i];
    std::string usage;
    if (const char* note = NoteFor(e.name)) {
      usage = "<code>" + Html(note) + "</code>";
    } else if (e.handler == interp::CmdNotImplemented) {
      usage = "<em>not available in this build</em>";
    } else {
      const std::vector<std::string> lines = UsageOf(e);
      if (lines.empty()) {
        usage = "<em>no usage text</em>";
      } else {
        usage = "<code>" + std::string(e.name) + "</code> ";
        for (std::size_t k = 0; k < lines.size(); ++k) {
          if (k > 0) usage += "<br>";
          usage += "<code>" + Html(lines[k]) + "</code>";
        }
      }
    }
    const char* description = DescriptionOf(e.name);
    if (!description) {
      std::fprintf(stderr, "helpgen: the command %s has no description\n", e.name);
      ++undescribed;
      continue;
    }
    char row[64];
    std::snprintf(row, sizeof row, "<tr><td class=\"n\">%d</td>", i);
    page += row;
    page += "<td id=\"" + std::string(e.name) + "\"><b>" + e.name + "</b></td><td class=\"d\">" +
            Html(description) + "</td><td>" + usage + "</td></tr>\n";
  }
  if (undescribed > 0) return 1;
  page += "</table>\n</body></html>\n";
  const std::string tmp = std::string(argv[1]) + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) {
    std::perror(tmp.c_str());
    return 1;
  }
  const bool ok = std::fwrite(page.data(), 1, page.size(), f) == page.size();
  if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), argv[1]) != 0) {
    std::perror(argv[1]);
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}
