#pragma once
// The files of `orvane apply` and `orvane confuse`: where FILE is read from and where outputs go
// (--PATH), reading with limits, and publishing an output that never replaces an existing file.
#include <filesystem>
#include <string>
#include <string_view>

namespace orvane::sealing {

// FILE itself when absolute, else FILE inside `dir` (the --PATH value).
std::filesystem::path input_path(const std::string& file, const std::string& dir);

// `dir`/<base name of FILE><suffix>; a suffix that starts with "-" is removed from the base name
// instead ("-.orvcnf" turns "x.yaml.orvcnf" into "x.yaml"). Throws SealError when the base name
// does not end with the suffix to remove, or nothing would be left of it.
std::filesystem::path output_path(const std::string& file, const std::string& dir,
                                  std::string_view suffix);

// The content of a regular file of at most 64 MiB. Throws SealError naming the file and what is
// wrong (missing, unreadable, a directory, a FIFO or device, too large).
std::string read_input(const std::filesystem::path& file);

// Throws SealError when `file` exists (as anything, a dangling link included) or its directory
// does not exist. Called before any work, so that nothing is asked or computed in vain.
void check_output_free(const std::filesystem::path& file);

// Writes `data` to `file` (mode 0600, flushed to the disk) and publishes it under its name only
// if no file of that name exists by then; otherwise removes what it wrote and throws SealError.
void publish_new(const std::filesystem::path& file, std::string_view data);

}  // namespace orvane::sealing
