// The global block: the one record of the interpreter's running state, reached
// through the global pointer `osb`. It owns, for the whole run, the
// directories and settings, the workspace arena, the current cell index and
// the secondary indexes, the map geometry, the script stack and the message
// ring. Library code never sees it: handlers take what an operation needs from
// here and pass it as arguments.
//
// Directories are stored with a final "/" and at most 260 characters; the
// aliases "temp\", "data\", "script\" and "veltrum\" (or with "/") stand for
// them in file names. The error level is the status of the last command:
// 0 success, 1 empty result, 2 not applicable, 4 failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include "platform/workspace.h"

namespace geodesy { struct Ellipsoid; }
namespace cells { struct CellIndex; }
namespace display { struct MapGeometry; }

namespace interp {

struct KeyedStore;     // the initialisation file in memory
struct StartupValues;  // what start-up read for the console, the map window and Version
struct CommandEntry;   // a row of the command table

inline constexpr int COMMAND_COUNT = 135;
inline constexpr int LINE_SIZE = 1024;        // a command line is processed on a copy of this many characters
inline constexpr int WORD_SIZE = 260;         // the buffer every handler gives NextWord (259 characters)
inline constexpr int FILE_NAME_CHARS = 260;   // the longest built file name
inline constexpr int FILE_NAME_SIZE = FILE_NAME_CHARS + 1;
inline constexpr int SCRIPT_STACK_SIZE = 31;  // suspended calling scripts
inline constexpr int SCRIPT_LINE_SIZE = 2048; // a script line with its continuations
inline constexpr int SCRIPT_TICK_MS = 500;
inline constexpr int32_t PAUSE_UNTIL_ENTER = 2147483647;
inline constexpr int MESSAGE_RING_SIZE = 2048;
inline constexpr int MAX_SECONDARY_INDEXES = 64;
inline constexpr int PANEL_TEXT_SIZE = 1024;

// Error levels left by commands.
inline constexpr int32_t EL_SUCCESS = 0;
inline constexpr int32_t EL_EMPTY = 1;
inline constexpr int32_t EL_NOT_APPLICABLE = 2;
inline constexpr int32_t EL_FAILURE = 4;

struct Directories {
  std::string program;   // the program's directory (exePath), final "/"
  std::string home;      // geoHome
  std::string temp;      // temp.directory
  std::string data;      // data.directory: object files
  std::string script;    // script.directory: scripts
  std::string veltrum;   // veltrum.directory
  std::string help_document;   // ombrel.html beside the program
  std::string browser_command; // html.shell.open.command, empty when none
  std::string ini_file;        // the initialisation file's full name (oinFn)
};

// The numeric settings of the initialisation file, changed at run time by Set.
struct Settings {
  int32_t work_space_size = 128000;
  int64_t mmf_out_size = 16777216;
  int32_t angle_sexagesimal = 0;
  int32_t time_scale = 600;
  int32_t ellipsoid_number = 34;
  double boundary_fuzz = 0.0;      // radians: metres / ((2a + b) / 3)
  int32_t boundary_indicator = 0;
  int32_t coordinate_resolution = 6;
  double pixel_width_m = 0.0;      // pixel size in metres
  double pixel_height_m = 0.0;
  int32_t coincident_pixel_count = 3;
  int32_t script_echo = 1;
  int32_t script_pace = 100;       // percent
  double gravity_gm = 398601300000000.0;
  double gravity_j2 = 0.00108263;
};

// One queued console notice. The queue owns its copy of the text, so a burst
// of posts longer than the ring cannot overwrite texts not yet shown.
struct QueuedMessage {
  int level;
  std::string text;
};

struct MessageRing {
  char text[MESSAGE_RING_SIZE] = {};
  int offset = 0;                    // write offset kept between posts
  std::deque<QueuedMessage> queue;   // posted, not yet drawn, in order
};

// Where messages are drawn: the terminal console, standard output in batch
// runs, or a test's collector. The level is 1 to 5 (or above: drawn as 5).
using MessageSink = void (*)(int level, const char* text);

// The text panel that ShowPanel puts over the map; the map window paints it.
struct TextPanel {
  bool shown = false;
  bool keep_in_map = false;        // negative seconds: copied into the map image
  std::string colour = "c0";       // text colour in the colour notation
  int background = -1;             // colour index, negative: no background
  int font = 3;                    // 0 to 5
  int justification = 0;           // -1 left, 1 right, 0 centred
  int location = 0;                // -1 left, -2 top, 1 right, 2 bottom, 0 centre band
  std::string text;                // as given, at most 1024 characters
  std::deque<std::string> lines;   // split at each backslash-n
};

struct ScriptState {
  FILE* current = nullptr;                    // a script runs exactly while this is set
  std::string current_name;
  FILE* stack[SCRIPT_STACK_SIZE] = {};        // suspended callers, [depth-1] most recent
  std::string stack_names[SCRIPT_STACK_SIZE];
  int depth = 0;
  int32_t pause_ms = 0;                       // 0 none, PAUSE_UNTIL_ENTER waits for the user
  std::string last_directory;                 // directory of the last script started
  bool timer_running = false;
};

struct GlobalBlock {
  // Command bookkeeping (dispatcher).
  int32_t error_level = 0;
  int32_t previous_error_level = 0;           // valid during one command only
  int32_t line_entry_error_level = 0;         // the level before the line's first command
  double last_command_time = 0.0;             // seconds
  const CommandEntry* command_table = nullptr;
  int command_count = 0;
  // Chaining: an If command leaves the next command word and its arguments.
  bool chain_pending = false;
  char chain_word[WORD_SIZE] = {};
  const char* chain_rest = nullptr;

  // Program facts.
  std::string program_name = "Ombrel";
  std::string build_date;
  int64_t start_tick = 0;
  std::string start_time;                     // ctime form

  Directories dirs;
  Settings settings;
  KeyedStore* keyed_store = nullptr;          // the initialisation file
  StartupValues* startup = nullptr;           // interp/startup.h

  platform::Workspace workspace;
  void* workspace_memory = nullptr;           // from CheckedAlloc
  bool memory_check_on = false;

  // Geometry state.
  geodesy::Ellipsoid* ellipsoid = nullptr;
  double fuzz_angle = 0.0;                    // boundary fuzz, radians
  cells::CellIndex* cell_index = nullptr;     // the current cell index
  cells::CellIndex* secondary_indexes[MAX_SECONDARY_INDEXES] = {};
  display::MapGeometry* map_geometry = nullptr;

  // Scripts and messages.
  ScriptState script;
  MessageRing ring;
  MessageSink sink = nullptr;
  bool loop_running = false;                  // messages are shown only while this is set
  TextPanel panel;

  // Run mode and the end of the run.
  bool batch = false;                         // lines back to back, no pauses
  bool headless = false;
  bool quit_requested = false;
  int exit_code = 0;

  // The map window's interactive mode (entry, nearest queries, ...): 0 none.
  // The display code sets the hooks; scripts wait while a mode runs and stop
  // it when they are stopped.
  int map_mode = 0;
  int console_input_length = 0;               // typed characters on the console's input line
  void (*cancel_map_mode)(GlobalBlock& g) = nullptr;
  void (*activate_map_window)(GlobalBlock& g) = nullptr;
  bool (*show_text_panel)(GlobalBlock& g) = nullptr;  // false: the panel could not be made
  void (*remove_text_panel)(GlobalBlock& g) = nullptr;
  // Set while a map window exists: handles its waiting events. The console
  // loop then wakes at least every 20 ms to call it.
  void (*pump_window_events)(GlobalBlock& g) = nullptr;
};

// The global pointer, set once start-up has allocated the block.
extern GlobalBlock* osb;

}  // namespace interp
