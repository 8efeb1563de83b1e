#pragma once
// Run-wide directories: where the installation's data lies and where a run writes.
#include <string>

#include <orvane/json.hpp>

namespace orvane {

class Config {
 public:
  // share/orvane/ of the installation, found from the running program, or the --inst_path value
  // when one other than "." was given. Ends with "/".
  static std::string get_inst_path();
  // <out>/orvaneData/, where <out> is the -o value; the installation directory when -o was not
  // given (or given as "."). Ends with "/".
  static std::string get_output_path();
  // Where an administrator keeps edited copies of the data files: etc/orvane/ of the
  // installation, /etc/orvane/ for a program in /usr/bin. Ends with "/".
  static std::string get_conf_path();
  // The same directory for a program at `program` (an absolute path).
  static std::string conf_path_of(const std::string& program);
  // A data file such as "analysis/rules.yaml": the configuration directory's copy when one
  // exists, else the installation's default.
  static std::string find_data_file(const std::string& relative);

  // Takes inst_path and out_path from an options record (missing or "." keeps the default).
  static void configure(const Json& options);
  static void set_inst_path(const std::string& path);  // "" restores the default
  static void set_out_path(const std::string& path);   // "" restores the default
  static void set_conf_path(const std::string& path);  // "" restores the default
};

}  // namespace orvane
