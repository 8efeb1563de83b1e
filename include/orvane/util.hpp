#pragma once
// Small file and text helpers used across the project.
#include <filesystem>
#include <string>
#include <string_view>

namespace orvane {

// The whole content of a file. Throws std::system_error naming the path when it cannot be read
// (missing, a directory, no permission).
std::string read_file(const std::filesystem::path& path);

// A file whose content is published at its path only by commit(): it is written to a temporary
// file beside the target and renamed into place, so a failed write never leaves a half-written
// file or destroys the previous one. Without commit() the temporary file is removed. The file is
// private to its owner (0600): orvane runs as root and writes what it collected from the system.
// With `sync` false the data is not flushed to the disk before the rename: the replacement stays
// atomic for readers and when the process dies; only a power loss may then lose the new content.
class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path path, bool sync = true);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  void write(std::string_view data);
  void write_owned(std::string&& data);  // write() that takes the text over when it comes first
  // The published file gets the mode and owner of `model` (usually the file being replaced)
  // instead of those of a new file. A missing model leaves the defaults.
  void keep_attributes_of(const std::filesystem::path& model);
  void commit();  // throws std::system_error naming the path on failure

 private:
  std::filesystem::path path_;
  std::string data_;
  bool sync_ = true;
  bool committed_ = false;
  std::filesystem::path model_;
};

// Creates the directory and its missing parents 0700. Throws std::system_error naming the path.
void create_private_directories(const std::filesystem::path& dir);
// Throws std::runtime_error naming the path when the directory orvane keeps its own files in
// (orvaneData) is a symbolic link, not a directory, or owned by another user: root writing into
// a directory someone else controls could be led to overwrite any file.
void check_own_directory(const std::filesystem::path& dir);

// The word quoted for /bin/sh when it holds anything outside [A-Za-z0-9._:@-] (then in single
// quotes, an embedded quote written as '\''); unchanged otherwise. An empty word gives ''.
std::string shell_quote(std::string_view word);

// The text with & < > " ' written as character references, safe both as HTML text and inside a
// quoted attribute value.
std::string html_escape(std::string_view text);

// Length of the well-formed UTF-8 sequence at text[i] (1 to 4), or 0 when the bytes there start
// none (overlong forms, surrogates and code points past U+10FFFF are not well formed); then
// `*ill_formed` is the length of the maximal ill-formed part that starts there (1 to 3).
size_t utf8_sequence_length(std::string_view text, size_t i, size_t* ill_formed = nullptr);
bool is_valid_utf8(std::string_view text);
// The text with every maximal ill-formed part written as one U+FFFD, as browsers and the JSON
// writer decode it: the one cleaning of text from the host, wherever it is shown.
std::string utf8_with_replacement(std::string_view text);

}  // namespace orvane
