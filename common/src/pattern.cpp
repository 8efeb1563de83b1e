// PCRE2 behind Pattern: compiled once, JIT with its own stack, a match limit on every match.
#include <orvane/pattern.hpp>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace orvane {
namespace {

// Enough for the patterns a benchmark metric or an analysis rule needs; a pattern that
// backtracks catastrophically stops here within milliseconds instead of minutes.
constexpr uint32_t kMatchLimit = 1'000'000;
constexpr uint32_t kDepthLimit = 10'000;  // the interpreter's recursion, when JIT is missing
constexpr uint32_t kHeapLimitKiB = 64 * 1024;
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 8 * 1024 * 1024;

std::string error_text(int code) {
  PCRE2_UCHAR buf[256];
  if (pcre2_get_error_message(code, buf, sizeof buf) < 0) return "error " + std::to_string(code);
  return reinterpret_cast<const char*>(buf);
}

}  // namespace

struct Pattern::Impl {
  pcre2_code* code = nullptr;
  pcre2_match_context* context = nullptr;
  pcre2_jit_stack* jit_stack = nullptr;
  ~Impl() {
    pcre2_jit_stack_free(jit_stack);
    pcre2_match_context_free(context);
    pcre2_code_free(code);
  }
};

Pattern::Pattern(std::string_view source) : impl_(std::make_shared<Impl>()), source_(source) {
  int code = 0;
  PCRE2_SIZE offset = 0;
  impl_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(), 0, &code,
                              &offset, nullptr);
  if (impl_->code == nullptr) {
    throw PatternError(error_text(code) + " at offset " + std::to_string(offset));
  }
  uint32_t n = 0;
  pcre2_pattern_info(impl_->code, PCRE2_INFO_CAPTURECOUNT, &n);
  captures_ = static_cast<int>(n);
  impl_->context = pcre2_match_context_create(nullptr);
  if (impl_->context == nullptr) throw std::bad_alloc();
  pcre2_set_match_limit(impl_->context, kMatchLimit);
  pcre2_set_depth_limit(impl_->context, kDepthLimit);
  pcre2_set_heap_limit(impl_->context, kHeapLimitKiB);
  // Without JIT (an architecture PCRE2 has none for) the interpreter runs under the same limits.
  if (pcre2_jit_compile(impl_->code, PCRE2_JIT_COMPLETE) == 0) {
    impl_->jit_stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
    if (impl_->jit_stack != nullptr) {
      pcre2_jit_stack_assign(impl_->context, nullptr, impl_->jit_stack);
    }
  }
}

namespace {

using Groups = std::vector<std::optional<std::string_view>>;

// One match attempt with the caller's match data.
std::optional<Groups> match_once(const Pattern::Impl& impl, pcre2_match_data* md, int captures,
                                 std::string_view subject, const std::string& source) {
  const int rc = pcre2_match(impl.code, reinterpret_cast<PCRE2_SPTR>(subject.data()),
                             subject.size(), 0, 0, md, impl.context);
  if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
  if (rc < 0) throw PatternError("the pattern '" + source + "' gave up: " + error_text(rc));
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
  Groups groups(static_cast<size_t>(captures) + 1);
  for (int k = 0; k <= captures; ++k) {
    if (ov[2 * k] == PCRE2_UNSET) continue;
    groups[k] = subject.substr(ov[2 * k], ov[2 * k + 1] - ov[2 * k]);
  }
  return groups;
}

struct MatchData {
  pcre2_match_data* md;
  explicit MatchData(const pcre2_code* code)
      : md(pcre2_match_data_create_from_pattern(code, nullptr)) {
    if (md == nullptr) throw std::bad_alloc();
  }
  ~MatchData() { pcre2_match_data_free(md); }
  MatchData(const MatchData&) = delete;
  MatchData& operator=(const MatchData&) = delete;
};

}  // namespace

std::optional<std::vector<std::optional<std::string_view>>> Pattern::search(
    std::string_view subject) const {
  MatchData data(impl_->code);
  return match_once(*impl_, data.md, captures_, subject, source_);
}

std::optional<std::vector<std::optional<std::string_view>>> Pattern::search_lines(
    std::string_view subject) const {
  MatchData data(impl_->code);
  size_t start = 0;
  while (start < subject.size()) {
    size_t end = subject.find('\n', start);
    if (end == std::string_view::npos) end = subject.size();
    try {
      if (auto m =
              match_once(*impl_, data.md, captures_, subject.substr(start, end - start), source_)) {
        return m;
      }
    } catch (const PatternError&) {
      // Too much work on this line: it gives no match, the others still may.
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace orvane
