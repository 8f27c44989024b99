// A global block wired for tests: messages collected in a list instead of
// drawn, the directories in a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "interp/global.h"
#include "interp/messages.h"
#include "interp/scripts.h"

namespace interp_test {

struct Message {
  int level;
  std::string text;
};

inline std::vector<Message>& Collected() {
  static std::vector<Message> messages;
  return messages;
}

inline void CollectSink(int level, const char* text) { Collected().push_back({level, text}); }

class InterpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Collected().clear();
    char templ[] = "/tmp/ombrel-interp-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    g_.dirs.data = dir_ + "/";
    g_.dirs.script = dir_ + "/";
    g_.dirs.temp = dir_ + "/";
    g_.dirs.veltrum = dir_ + "/";
    g_.sink = CollectSink;
    g_.loop_running = true;
    interp::osb = &g_;
  }
  void TearDown() override {
    interp::StopScript(g_);
    interp::osb = nullptr;
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
  }
  // The messages drawn so far (queued ones delivered first), then forgotten.
  std::vector<Message> Take() {
    interp::DeliverMessages(g_);
    std::vector<Message> m = Collected();
    Collected().clear();
    return m;
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (const Message& m : Take()) t.push_back(m.text);
    return t;
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      fwrite(text.data(), 1, text.size(), f);
      fclose(f);
    }
    return path;
  }
  interp::GlobalBlock g_;
  std::string dir_;
};

}  // namespace interp_test
