#pragma once
// Each test runs in a fresh temporary directory, made the current directory, where its scripts,
// project file and backup file live.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <orvane/readcfg.hpp>

namespace orvane::testing {

class TuningDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvane-tuning.XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    // The change journal of the runs stays in the test's directory.
    ::setenv("ORVANE_STATE_DIR", (dir_ / "state").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ORVANE_STATE_DIR");
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  static void write(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  static std::string read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool exists(const std::string& name) { return std::filesystem::exists(name); }

  // Writes project.yaml with the given params section (and optional workload) and loads it.
  static Json load(const std::string& params, const std::string& extra = "",
                   const std::string& benchmark =
                       "  command: \"cat figure\"\n"
                       "  metric: '([0-9.]+)'\n") {
    write("project.yaml",
          "project: p\n" + extra + "benchmark:\n" + benchmark + "params:\n" + params);
    return Cfg().init("project.yaml");
  }

  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

}  // namespace orvane::testing
