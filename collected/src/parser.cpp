// The collected-data file parser: groups of command blocks between separator lines.
#include <orvane/collected/parser.hpp>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <orvane/collected/format.hpp>
#include <orvane/collected/text.hpp>
#include <orvane/util.hpp>

namespace orvane::collected {
namespace {

// Calls `piece` with every part of `text` between occurrences of `sep`, empty parts included.
template <typename F>
void split(std::string_view text, std::string_view sep, F&& piece) {
  size_t start = 0;
  while (true) {
    const void* hit =
        text.size() - start >= sep.size()
            ? ::memmem(text.data() + start, text.size() - start, sep.data(), sep.size())
            : nullptr;
    if (hit == nullptr) {
      piece(text.substr(start));
      return;
    }
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    piece(text.substr(start, at - start));
    start = at + sep.size();
  }
}

// A header line shortened for an error message, cut at a character boundary.
std::string excerpt(std::string_view line) {
  constexpr size_t kMax = 80;
  if (line.size() <= kMax) return std::string(line);
  size_t end = kMax;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  return std::string(line.substr(0, end)) + "...";
}

// The text after the first `label` of the line, up to a second `label` if there is one.
std::string_view labelled_value(std::string_view line, std::string_view label, int line_no) {
  const size_t at = line.find(label);
  if (at == std::string_view::npos) {
    throw ParseError("line " + std::to_string(line_no) + " of a command block lacks \"" +
                     std::string(label) + "\": \"" + excerpt(line) + "\"");
  }
  std::string_view rest = line.substr(at + label.size());
  return rest.substr(0, rest.find(label));
}

// The groups of text whose line ends are all LF. `done(end)` is called after each group with the
// offset in `content` up to which the text has been read and copied.
template <typename Done>
std::vector<CommandGroup> parse_lf(std::string_view content, Done&& done) {
  const std::string_view body = drop_last_chars(trim(content), kGroupSeparator.size());
  std::vector<CommandGroup> groups;
  split(body, kGroupSeparator, [&](std::string_view group_text) {
    CommandGroup group;
    split(trim(group_text), kCommandSeparator, [&](std::string_view block_text) {
      const std::string_view block = trim(block_text);
      const size_t nl1 = block.find('\n');
      if (nl1 == std::string_view::npos) return;
      const size_t nl2 = block.find('\n', nl1 + 1);
      if (nl2 == std::string_view::npos) return;
      const std::string_view name = labelled_value(block.substr(0, nl1), kGroupLabel, 1);
      const std::string_view cmd =
          labelled_value(block.substr(nl1 + 1, nl2 - nl1 - 1), kCommandLabel, 2);
      group.group.assign(name);
      group.sub.push_back(CommandResult{std::string(cmd), std::string(block.substr(nl2 + 1))});
    });
    if (!group.group.empty() && !group.sub.empty()) groups.push_back(std::move(group));
    done(static_cast<size_t>(group_text.data() + group_text.size() - content.data()));
  });
  return groups;
}

std::vector<CommandGroup> parse_lf(std::string_view content) {
  return parse_lf(content, [](size_t) {});
}

// A read-only view of a whole regular file, mapped with its pages read in at once: no copy of
// the file is made, and the parse works on the page cache directly. Pages already read can be
// handed back (release), so that the mapping does not add a second copy of the file to the memory
// the parse holds at its peak.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
    size_ = static_cast<size_t>(st.st_size);
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, 0);
    if (p == MAP_FAILED) {
      size_ = 0;
      return;
    }
    ::madvise(p, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(p);
  }
  // Drops the process's pages of the file's first `end` bytes (whole pages only); they stay in
  // the page cache, and reading them again maps them again.
  void release(size_t end) {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    end = std::min(end, size_) / page * page;
    // In steps of some megabytes: each call costs a flush of the address translations.
    if (end >= released_ + (8u << 20)) {
      ::madvise(const_cast<char*>(data_) + released_, end - released_, MADV_DONTNEED);
      released_ = end;
    }
  }
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  bool mapped() const { return data_ != nullptr; }
  std::string_view text() const { return {data_, size_}; }

 private:
  int fd_ = -1;
  const char* data_ = nullptr;
  size_t size_ = 0;
  size_t released_ = 0;
};

}  // namespace

std::vector<CommandGroup> parse_groups(std::string_view text) {
  if (auto bad = find_invalid_utf8(text)) {
    throw ParseError("invalid UTF-8 at byte " + std::to_string(*bad));
  }
  if (text.find('\r') == std::string_view::npos) return parse_lf(text);
  std::string lf(text);
  normalize_line_ends(lf);
  return parse_lf(lf);
}

std::vector<CommandGroup> read_groups(const std::string& path) {
  MappedFile file(path);
  if (file.mapped()) {
    const std::string_view text = file.text();
    if (auto bad = find_invalid_utf8(text)) {
      throw ParseError("invalid UTF-8 at byte " + std::to_string(*bad));
    }
    if (text.find('\r') != std::string_view::npos) return parse_groups(text);
    // What the parse has copied is handed back as it goes: the file and its copy are not held
    // whole at the same time.
    return parse_lf(text, [&](size_t end) { file.release(end); });
  }
  // Empty files, and whatever cannot be mapped, are read the ordinary way, which also reports
  // directories and unreadable files.
  return parse_groups(read_file(path));
}

}  // namespace orvane::collected
