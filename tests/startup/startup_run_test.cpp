// Start-up of the real program: ombrel --batch run with OMBREL_HOME pointing
// at a scratch copy of the shipped files, one of which a case then breaks.
// Each case checks the box text (standard error) and the exit status, or the
// effect of a setting on the commands that show it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class StartupRun : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = Env("OMBREL_BIN");
    ASSERT_FALSE(bin_.empty()) << "OMBREL_BIN is not set";
    char tmpl[] = "/tmp/ombrel-startup-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    home_ = root_ + "/home/";
    work_ = root_ + "/work/";
    mkdir(home_.c_str(), 0700);
    mkdir(work_.c_str(), 0700);
    for (const char* f : {"ombrel.oin", "ombrel.html", "isotype.vix", "coast.sgm", "coast.vtx", "vthpglm.mrk"}) {
      const std::string from = bin_ + "/" + f;
      ASSERT_EQ(access(from.c_str(), R_OK), 0) << from << " is missing: build the shipped data first";
      const std::string cmd = "cp '" + from + "' '" + home_ + "'";
      ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    oin_ = ReadAll(home_ + "ombrel.oin");
    // A desktop opener of its own on the path, so that runs find a browser
    // (and their start-up is silent) whatever the machine has installed. It
    // records its arguments, one per line, in opened.txt.
    tools_ = root_ + "/bin/";
    mkdir(tools_.c_str(), 0700);
    WriteBrowser("xdg-open");
  }

  // A fake browser in tools_ that writes its arguments to opened.txt in the
  // current directory (the run's working folder).
  void WriteBrowser(const std::string& name) {
    const std::string path = tools_ + name;
    WriteAll(path, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > opened.txt.part && mv opened.txt.part opened.txt\n");
    chmod(path.c_str(), 0755);
  }

  // What the fake browser was started with (waits up to 5 s: it is not
  // waited for).
  std::string Opened() {
    std::string opened;
    for (int i = 0; i < 50 && opened.empty(); ++i) {
      opened = ReadAll(work_ + "opened.txt");
      if (opened.empty()) usleep(100000);
    }
    return opened;
  }
  void TearDown() override {
    if (!HasFailure()) {
      const std::string cmd = "rm -rf '" + root_ + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", root_.c_str());
    } else {
      std::fprintf(stderr, "kept %s\n", root_.c_str());
    }
  }

  // Replaces the line that starts with key (or appends one) in the copied oin.
  void SetKey(const std::string& key, const std::string& line) {
    std::string text = oin_;
    const std::size_t at = text.find("\n" + key + " =");
    if (at != std::string::npos) {
      const std::size_t end = text.find('\n', at + 1);
      text.replace(at + 1, end - at - 1, line);
    } else {
      text += line + "\n";
    }
    oin_ = text;
    WriteAll(home_ + "ombrel.oin", oin_);
  }

  RunResult Ombrel(const std::string& script, const std::string& args = "", const std::string& env = "") {
    WriteAll(work_ + "case.omb", script);
    const std::string path = "PATH='" + tools_ + ":" + Env("PATH") + "' ";
    const std::string cmd = "cd '" + work_ + "' && env -u DISPLAY -u WAYLAND_DISPLAY " + path + env + " OMBREL_HOME='" + home_ +
                            "' '" + bin_ + "/ombrel' --batch " + (args.empty() ? "case.omb" : args) +
                            " > out.txt 2> err.txt < /dev/null";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadAll(work_ + "out.txt");
    r.err = ReadAll(work_ + "err.txt");
    return r;
  }

  std::string bin_, root_, home_, work_, oin_, tools_;
};

constexpr int kStartupFailed = 3;

TEST_F(StartupRun, ShippedFilesStartCleanly) {
  const RunResult r = Ombrel("Echo up\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Echo up\nup\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(StartupRun, TabOnLine7StopsWithTheLineNumber) {
  std::string text = "; one\n; two\n; three\n; four\n; five\n; six\nwork.space.size =\t128000\n";
  WriteAll(home_ + "ombrel.oin", text);
  const RunResult r = Ombrel("Echo never\n");
  EXPECT_EQ(r.status, kStartupFailed);
  EXPECT_NE(r.err.find(home_ + "ombrel.oin\nSyntax error (line 7): Tab character found."), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(StartupRun, OtherSyntaxFaultsNameTheirLine) {
  WriteAll(home_ + "ombrel.oin", "; ok\nbad-key = 1\n");
  RunResult r = Ombrel("");
  EXPECT_EQ(r.status, kStartupFailed);
  EXPECT_NE(r.err.find("Syntax error (line 2): Keyword syntax error."), std::string::npos) << r.err;
  WriteAll(home_ + "ombrel.oin", "scale = 10e6");
  r = Ombrel("");
  EXPECT_NE(r.err.find("Syntax error (line 1): Missing line ending."), std::string::npos) << r.err;
}

TEST_F(StartupRun, MissingFilesStopStartUp) {
  struct Case {
    const char* file;
    const char* box;
  } cases[] = {{"ombrel.oin", "Missing initialization file"},
               {"ombrel.html", "Missing help file"},
               {"coast.vtx", "Missing coast file"},
               {"vthpglm.mrk", "Missing HPGL marker file"},
               {"isotype.vix", "isotype.vix) open error"}};
  for (const Case& c : cases) {
    const std::string path = home_ + c.file;
    const std::string saved = ReadAll(path);
    std::remove(path.c_str());
    const RunResult r = Ombrel("Echo never\n");
    EXPECT_EQ(r.status, kStartupFailed) << c.file;
    EXPECT_NE(r.err.find(c.box), std::string::npos) << c.file << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.file;
    WriteAll(path, saved);
  }
}

TEST_F(StartupRun, BrokenDataFilesAreRefused) {
  WriteAll(home_ + "isotype.vix", std::string(100, 'x'));
  RunResult r = Ombrel("");
  EXPECT_EQ(r.status, kStartupFailed);
  EXPECT_NE(r.err.find("isotype.vix) load error"), std::string::npos) << r.err;
  const std::string vix = ReadAll(bin_ + "/isotype.vix");
  WriteAll(home_ + "isotype.vix", vix);

  WriteAll(home_ + "vthpglm.mrk", "; only comments\n   ; and blanks\n");
  r = Ombrel("");
  EXPECT_EQ(r.status, kStartupFailed);
  EXPECT_NE(r.err.find("Invalid HPGL marker file"), std::string::npos) << r.err;
  std::string many;
  for (int i = 0; i < 33; ++i) many += "PD;\n";
  WriteAll(home_ + "vthpglm.mrk", many);
  r = Ombrel("");
  EXPECT_NE(r.err.find("Invalid HPGL marker file"), std::string::npos) << r.err;
  WriteAll(home_ + "vthpglm.mrk", many.substr(4));  // 32 texts: the most there may be
  r = Ombrel("");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(StartupRun, EllipsoidKeysAreChecked) {
  SetKey("ellipsoid.number", "ellipsoid.number = 0");
  RunResult r = Ombrel("");
  EXPECT_EQ(r.status, kStartupFailed);
  EXPECT_NE(r.err.find("Invalid ellipsoid number: 0"), std::string::npos) << r.err;
  SetKey("ellipsoid.number", "ellipsoid.number = 35");
  r = Ombrel("");
  EXPECT_NE(r.err.find("Invalid ellipsoid number: 35"), std::string::npos) << r.err;
  SetKey("ellipsoid.number", "ellipsoid.number = 34");
  SetKey("ellipsoid.semiaxes", "ellipsoid.semiaxes = 6378137");
  r = Ombrel("");
  EXPECT_EQ(r.status, kStartupFailed);
  EXPECT_NE(r.err.find("Invalid ellipsoid semi-axis value(s) 6.37814e+06 0"), std::string::npos) << r.err;
  SetKey("ellipsoid.semiaxes", "ellipsoid.semiaxes = 6378137, 8e7");
  r = Ombrel("");
  EXPECT_NE(r.err.find("Invalid ellipsoid semi-axis value(s) 6.37814e+06 8e+07"), std::string::npos) << r.err;
  SetKey("ellipsoid.semiaxes", "ellipsoid.semiaxes = 6378137\t6356752");
  r = Ombrel("");
  EXPECT_NE(r.err.find("Tab character found."), std::string::npos) << r.err;
  SetKey("ellipsoid.semiaxes", "ellipsoid.semiaxes = 6378137 6356752");
  r = Ombrel("");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(StartupRun, WorkspaceOf1000BecomesThe32000Minimum) {
  SetKey("work.space.size", "work.space.size = 1000");
  const RunResult r = Ombrel("ReportMemory\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Used:        0, Available:    31992"), std::string::npos) << r.out;
}

TEST_F(StartupRun, MappingSizeAndWindowKeysAreChecked) {
  struct Case {
    const char* key;
    const char* line;
    const char* box;
  } cases[] = {
      {"mmf.out.size", "mmf.out.size = 1048575", "Invalid memory mapping size"},
      {"console.position", "console.position = 6,8,28", "Invalid console window position"},
      {"map.position", "map.position = 1 2", "Invalid map window position"},
      {"projection", "projection = bogus", "Invalid projection bogus"},
      {"scale", "scale = 999", "Invalid scale 999"},
      {"scale", "scale = 2e9", "Invalid scale 2e9"},
      {"center", "center = N91 E7", "Invalid latitude/longitude"},
      {"center", "center = N45", "Invalid latitude/longitude"},
  };
  const std::string good = oin_;
  for (const Case& c : cases) {
    oin_ = good;
    SetKey(c.key, c.line);
    const RunResult r = Ombrel("Echo never\n");
    EXPECT_EQ(r.status, kStartupFailed) << c.line;
    EXPECT_NE(r.err.find(c.box), std::string::npos) << c.line << ": " << r.err;
  }
  oin_ = good;
  SetKey("center", "center = S45.5 W170");
  SetKey("projection", "projection = ortho");
  const RunResult r = Ombrel("");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(StartupRun, AKeyWrittenTwiceCountsOnce) {
  SetKey("script.echo", "script.echo = 0\nscript.echo = 1");
  const RunResult r = Ombrel("Echo shown without its echo\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "shown without its echo\n");
}

TEST_F(StartupRun, DirectoriesAreNormalised) {
  SetKey("data.directory", "data.directory = ~data\\sub");
  SetKey("script.directory", "script.directory = /tmp/");
  SetKey("veltrum.directory", "veltrum.directory = ^/velt");
  SetKey("temp.directory", "temp.directory = ~");
  const RunResult r = Ombrel("ReportRunEnvironment\n", "./case.omb");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("exePath:     " + home_ + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dataPath:    " + home_ + "data/sub/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("scriptPath:  /tmp/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("veltrumPath: /tmp/velt/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tempPath:    " + home_ + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("oinFn:       " + home_ + "ombrel.oin\n"), std::string::npos) << r.out;
}

TEST_F(StartupRun, MissingCommandLineScript) {
  const RunResult r = Ombrel("", "nosuchscript");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Error opening script file nosuchscript"), std::string::npos) << r.err;
}

TEST_F(StartupRun, TheMemoryCheckFindsNoLeakAtTheEnd) {
  const RunResult r = Ombrel("Set work.space.size 50000\nWriteTextFile t a\\nb\nQuit\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string mem = ReadAll(work_ + "ombrel.mem");
  EXPECT_EQ(mem.rfind("; Ombrel as of: ", 0), 0u) << mem;
}

TEST_F(StartupRun, HelpStartsTheBrowserWithThePage) {
  // No key: the desktop's opener gets the page as one argument.
  RunResult r = Ombrel("Help\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Help\n");
  EXPECT_EQ(Opened(), home_ + "ombrel.html\n");
  std::remove((work_ + "opened.txt").c_str());

  // A command ending in "exe" gets a blank before the page.
  WriteBrowser("viewer.exe");
  SetKey("html.shell.open.command", "html.shell.open.command = " + tools_ + "viewer.exe");
  r = Ombrel("Help\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Opened(), home_ + "ombrel.html\n");
  std::remove((work_ + "opened.txt").c_str());

  // Any other command is followed by the page directly: here its last word
  // is an option that takes the page as its value, and a quoted word keeps
  // its blank.
  WriteBrowser("viewer");
  SetKey("html.shell.open.command", "html.shell.open.command = " + tools_ + "viewer 'two words' --page=");
  r = Ombrel("Help\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Opened(), "two words\n--page=" + home_ + "ombrel.html\n");
  std::remove((work_ + "opened.txt").c_str());

  // The help viewer beside the program wins, and gets the page as a file URL.
  const std::string viewer = tools_ + "ob1.exe";
  WriteBrowser("ob1.exe");
  ASSERT_EQ(std::rename(viewer.c_str(), (home_ + "ob1.exe").c_str()), 0);
  r = Ombrel("Help\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Opened(), "file://" + home_ + "ombrel.html\n");
}

TEST_F(StartupRun, HelpReportsABrowserThatCannotBeStarted) {
  // Without the blank the page runs into the program's name, which then
  // names no program; a missing program likewise.
  WriteBrowser("viewer");
  for (const std::string& command : {tools_ + "viewer", std::string("/nonexistent/browser.exe")}) {
    SetKey("html.shell.open.command", "html.shell.open.command = " + command);
    const RunResult r = Ombrel("Help\nIfErrorlevel 4 Echo failed with 4\n");
    EXPECT_EQ(r.out, "Help\nBrowser process startup failed?\nIfErrorlevel 4 Echo failed with 4\nfailed with 4\n")
        << command;
    EXPECT_EQ(ReadAll(work_ + "opened.txt"), "") << command;
  }
}

TEST_F(StartupRun, HelpWithoutABrowserExplainsInTheConsole) {
  const RunResult r = Ombrel("Help\n", "", "PATH=/nonexistent");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Help\nFor a list of all valid commands, use <tab> and <shift-tab>.\n"
            "To obtain help for any one command, enter \"command-name ?\"\n"
            "For comprehensive Ombrel help notes please view the HTML\n"
            "document \"ombrel.html\" using your Internet Web browser.\n"
            "The help page is " + home_ + "ombrel.html\n");
  // A batch start-up shows the warning like every other start-up warning.
  EXPECT_EQ(r.err, "Ombrel: Warning: can't find browser. May not be able to display Help\n");
}

TEST_F(StartupRun, ABlockedMemoryCheckFileTurnsCheckingOff) {
  // A directory where the check file should be: a warning, checking off,
  // and the job's own status at the end, not an assertion.
  ASSERT_EQ(mkdir((work_ + "ombrel.mem").c_str(), 0700), 0);
  RunResult r = Ombrel("Set work.space.size 50000\nWriteTextFile t a\\nb\nVersion\nEcho done\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Ombrel: Warning: memory check file open error\n");
  EXPECT_NE(r.out.find("Tracing disabled, memory checking disabled\nEcho done\ndone\n"), std::string::npos) << r.out;
  r = Ombrel("Set ellipsoid.number 35\n");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(r.err.find("assertion"), std::string::npos) << r.err;
}

TEST_F(StartupRun, HelpAndVersionOptions) {
  RunResult r = Ombrel("", "--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: ombrel [--batch] [--headless] [--events FILE] [script [label]]\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("  --version "), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");

  r = Ombrel("", "--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Ombrel (as-of ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nQuorra Library:\n version: QUORVRSN_H33\n release (quorra.h): 360\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nRunning under Linux "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nTracing disabled, memory checking disabled\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  // Nothing of a run is started: no check file is written.
  EXPECT_NE(access((work_ + "ombrel.mem").c_str(), F_OK), 0);

  // The same as the command in a run (but for the memory check).
  const RunResult run = Ombrel("Version\n");
  const std::size_t first = run.out.find('\n', run.out.find('\n') + 1);
  EXPECT_EQ(run.out.substr(run.out.find('\n') + 1, first - run.out.find('\n') - 1),
            r.out.substr(0, r.out.find('\n')));

  r = Ombrel("", "--bogus");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ombrel: unknown option --bogus"), std::string::npos) << r.err;
}

TEST(HelpPage, ListsEveryCommandInTableOrderWithItsUsage) {
  const std::string page = ReadAll(Env("OMBREL_BIN") + "/ombrel.html");
  ASSERT_FALSE(page.empty()) << "ombrel.html was not built";
  int rows = 0;
  for (std::size_t at = 0; (at = page.find("<tr><td class=\"n\">", at)) != std::string::npos; ++at) ++rows;
  EXPECT_EQ(rows, 135);
  // Every command has its description beside the usage.
  int described = 0;
  for (std::size_t at = 0; (at = page.find("</b></td><td class=\"d\">", at)) != std::string::npos; ++at) {
    const std::size_t text = at + std::strlen("</b></td><td class=\"d\">");
    EXPECT_GT(page.find("</td>", text) - text, 20u) << page.substr(at, 80);
    ++described;
  }
  EXPECT_EQ(described, 135);
  const std::size_t first = page.find("id=\"AddCellCenters\"");
  const std::size_t set = page.find("id=\"Set\"");
  const std::size_t last = page.find("id=\"Zzz\"");
  EXPECT_LT(first, set);
  EXPECT_LT(set, last);
  EXPECT_NE(last, std::string::npos);
  // Usage texts come from the handlers themselves.
  EXPECT_NE(page.find("<code>keyword [=] data</code>", set), std::string::npos);
  EXPECT_NE(page.find("<code>file &quot;text...&quot;</code>"), std::string::npos);
}

TEST_F(StartupRun, ExitStatusIsTheLastErrorLevel) {
  EXPECT_EQ(Ombrel("Set ellipsoid.number 35\n").status, 2);
  EXPECT_EQ(Ombrel("Set nothing.such 1\n").status, 4);
  EXPECT_EQ(Ombrel("WriteTextFile empty\n").status, 1);
  EXPECT_EQ(Ombrel("Set ellipsoid.number 3\n").status, 0);
}

}  // namespace
