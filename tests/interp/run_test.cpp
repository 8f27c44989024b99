// The ombrel program as a whole: interactive runs honour pauses on the 500 ms
// tick, batch runs skip them, start-up failures and bad options end with a
// non-zero status, and a clean run leaves a memory check file without leaks.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct Result {
  int status = -1;
  std::string out;
  double seconds = 0.0;
};

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("OMBREL_BIN");
    if (!bin) GTEST_SKIP() << "OMBREL_BIN is not set";
    program_ = std::string(bin) + "/ombrel";
    char templ[] = "/tmp/ombrel-run-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    if (!dir_.empty() && system(("rm -rf '" + dir_ + "'").c_str()) != 0) ADD_FAILURE();
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name) << text;
  }
  // Runs a shell command line in the test folder; standard error joins the output.
  Result Run(const std::string& args) {
    const std::string cmd = "cd '" + dir_ + "' && " + args + " 2>&1";
    const auto start = std::chrono::steady_clock::now();
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
  }
  std::string program_, dir_;
};

TEST_F(Program, InteractiveRunsWaitOutPauses) {
  Write("pace.omb", "ShowMap 1\nEcho done\n");
  Result r = Run("echo pace | '" + program_ + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("paused 1 seconds\nEcho done\ndone\n"), std::string::npos) << r.out;
  EXPECT_GE(r.seconds, 1.0);  // the pause, on top of a tick per line
  EXPECT_LT(r.seconds, 10.0);
}

TEST_F(Program, BatchRunsSkipPauses) {
  Write("pace.omb", "ShowMap 30\nShowPanel 30 c1 text\nEcho done\n");
  Result r = Run("'" + program_ + "' --batch pace");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("done\n"), std::string::npos) << r.out;
  EXPECT_LT(r.seconds, 5.0);
}

TEST_F(Program, MissingStartUpScriptEndsABatchRunWithOne) {
  Result r = Run("'" + program_ + "' --batch nosuch");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error opening script file nosuch"), std::string::npos) << r.out;
}

TEST_F(Program, MissingStartUpScriptLeavesAnInteractiveRunGoing) {
  Result r = Run("echo 'Echo still here' | '" + program_ + "' nosuch");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Error opening script file nosuch"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("still here"), std::string::npos) << r.out;
}

TEST_F(Program, BadOptionsEndWithTwo) {
  EXPECT_EQ(Run("'" + program_ + "' --frobnicate").status, 2);
  EXPECT_EQ(Run("'" + program_ + "' a b c").status, 2);
}

TEST_F(Program, ExitStatusIsTheLastErrorLevel) {
  EXPECT_EQ(Run("printf 'nosuchcommand\\n' | '" + program_ + "' --batch").status, 4);
  EXPECT_EQ(Run("printf 'nosuchcommand\\nEcho ok\\n' | '" + program_ + "' --batch").status, 0);
  // Quit ends at once; nothing after it runs.
  Result r = Run("printf 'nosuchcommand\\nQuit\\nEcho no\\n' | '" + program_ + "' --batch");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out.find("\nno\n"), std::string::npos) << r.out;
}

TEST_F(Program, CleanRunWritesTheCheckFileWithoutLeaks) {
  Result r = Run("printf 'Echo x\\n' | '" + program_ + "' --batch");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("memory leak"), std::string::npos) << r.out;
  std::ifstream mem(dir_ + "/ombrel.mem");
  ASSERT_TRUE(mem.good());
  std::string first;
  std::getline(mem, first);
  EXPECT_EQ(first.rfind("; Ombrel as of: ", 0), 0u) << first;
}

}  // namespace
