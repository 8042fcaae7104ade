#pragma once
// A scratch folder per test and a way to run the tool in it, shared by the
// tool's suites.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

struct Result {
  int code;
  std::string out, err;
};

class ToolFixture : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dspfx-tool-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // The tool with these arguments, its exit code and what it printed.
  Result run(const std::string& args) const {
    const std::string out = path("stdout.txt"), err = path("stderr.txt");
    const int status = std::system((std::string(DSPFX_TOOL_PATH) + " " + args + " >" + out + " 2>" + err).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
  }

  static std::string slurp(const std::string& file) {
    std::stringstream s;
    s << std::ifstream(file, std::ios::binary).rdbuf();
    return s.str();
  }

  std::string dir_;
};
