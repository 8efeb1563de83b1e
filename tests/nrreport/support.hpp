#pragma once
// Test fixtures of the report builder: temporary directories, fake system tools first on PATH,
// the run-wide configuration pointed at them, and access to the private rendering stage.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/json.hpp>
#include <orvane/nr_report.hpp>

#include "../support/temp_dir.hpp"

namespace orvane {

// Reaches NrReport's private rendering stage.
class NrReportInternals {
 public:
  static void render(const NrReport& r, const Json& info, const std::string& srcfile,
                     const std::string& outfile) {
    r.render(info, srcfile, outfile);
  }
};

}  // namespace orvane

namespace orvane::test {

// The one temporary directory of the tests.
using TempDir = orvane::testing::TempDir;

void write_bytes(const std::filesystem::path& path, std::string_view bytes);
std::string read_bytes(const std::filesystem::path& path);

// Installs the scripts of `tools` (name -> shell script body, run by /bin/sh) into `dir` and puts
// `dir` first on PATH for the lifetime of the object. Every fake tool appends one line to
// dir/calls.log: its name followed by each argument in brackets.
class FakeTools {
 public:
  FakeTools(const std::filesystem::path& dir,
            const std::vector<std::pair<std::string, std::string>>& tools);
  ~FakeTools();
  FakeTools(const FakeTools&) = delete;
  FakeTools& operator=(const FakeTools&) = delete;
  std::vector<std::string> calls() const;  // the lines of calls.log, in order

 private:
  std::filesystem::path dir_;
  std::string old_path_;
};

// A complete set of fake host tools for the base facts and the summaries, with the outputs the
// tests expect (see support.cpp). `hostile` replaces the host name and the productinfo line.
std::vector<std::pair<std::string, std::string>> host_tools(const std::string& hostname = "node7");

// Points Config at the given installation and output base directories; restores the defaults.
class ScopedConfig {
 public:
  ScopedConfig(const std::string& inst, const std::string& out);
  ~ScopedConfig();
};

// The page data appended to a report file, parsed.
Json info_of_report(const std::string& html);

}  // namespace orvane::test
