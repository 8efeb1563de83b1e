// A recursive-descent evaluator; one pass, no tree, since every expression is evaluated once.
#include <orvane/profile/expression.hpp>

#include <cctype>
#include <cmath>
#include <vector>

#include <fmt/format.h>

namespace orvane::profile {
namespace {

class Parser {
 public:
  Parser(std::string_view text, const Facts& facts, bool check_only)
      : text_(text), facts_(facts), check_only_(check_only) {}

  double run() {
    const double v = disjunction();
    skip_space();
    if (pos_ < text_.size()) fail(fmt::format("unexpected '{}'", text_[pos_]));
    if (!check_only_ && !std::isfinite(v)) fail("the result is not a finite number");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw ExpressionError(
        fmt::format("expression '{}', at character {}: {}", text_, pos_ + 1, what));
  }

  void skip_space() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  bool take(std::string_view op) {
    skip_space();
    if (text_.substr(pos_, op.size()) != op) return false;
    // "<" must not take the first half of "<=", nor "!" that of "!=".
    if (op.size() == 1 && (op == "<" || op == ">" || op == "!" || op == "=") &&
        pos_ + 1 < text_.size() && text_[pos_ + 1] == '=') {
      return false;
    }
    pos_ += op.size();
    return true;
  }

  double disjunction() {
    double v = conjunction();
    while (take("||")) {
      const double r = conjunction();
      v = (v != 0 || r != 0) ? 1 : 0;
    }
    return v;
  }

  double conjunction() {
    double v = comparison();
    while (take("&&")) {
      const double r = comparison();
      v = (v != 0 && r != 0) ? 1 : 0;
    }
    return v;
  }

  double comparison() {
    double v = sum();
    while (true) {
      if (take("<=")) {
        v = v <= sum();
      } else if (take(">=")) {
        v = v >= sum();
      } else if (take("==")) {
        v = v == sum();
      } else if (take("!=")) {
        v = v != sum();
      } else if (take("<")) {
        v = v < sum();
      } else if (take(">")) {
        v = v > sum();
      } else {
        return v;
      }
    }
  }

  double sum() {
    double v = product();
    while (true) {
      if (take("+")) {
        v += product();
      } else if (take("-")) {
        v -= product();
      } else {
        return v;
      }
    }
  }

  double product() {
    double v = unary();
    while (true) {
      if (take("*")) {
        v *= unary();
      } else if (take("/")) {
        const size_t at = pos_;
        const double d = unary();
        if (d == 0 && !check_only_) {
          pos_ = at;
          fail("division by zero");
        }
        v = check_only_ ? v : v / d;
      } else {
        return v;
      }
    }
  }

  double unary() {
    if (take("-")) return -unary();
    if (take("!")) return unary() == 0 ? 1 : 0;
    if (take("+")) return unary();
    return primary();
  }

  double primary() {
    skip_space();
    if (pos_ >= text_.size()) fail("a number, a name or '(' is missing");
    const char c = text_[pos_];
    if (take("(")) {
      const double v = disjunction();
      if (!take(")")) fail("')' is missing");
      return v;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return number();
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') return name();
    fail(fmt::format("unexpected '{}'", c));
  }

  double number() {
    const size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.')) {
      ++pos_;
    }
    const std::string digits(text_.substr(start, pos_ - start));
    char* end = nullptr;
    const double v = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) {
      pos_ = start;
      fail(fmt::format("'{}' is not a number", digits));
    }
    return v;
  }

  double name() {
    const size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
      ++pos_;
    }
    const std::string_view id = text_.substr(start, pos_ - start);
    if (take("(")) return call(id, start);
    const auto it = facts_.find(id);
    if (it == facts_.end()) {
      pos_ = start;
      fail(fmt::format("unknown name '{}'", id));
    }
    return it->second;
  }

  double call(std::string_view fn, size_t at) {
    std::vector<double> args;
    if (!take(")")) {
      do {
        args.push_back(disjunction());
      } while (take(","));
      if (!take(")")) fail("')' or ',' is missing");
    }
    auto want = [&](size_t n) {
      if (args.size() != n) {
        pos_ = at;
        fail(fmt::format("{}() takes {} argument{}", fn, n, n == 1 ? "" : "s"));
      }
    };
    if (fn == "min" || fn == "max") {
      if (args.empty()) {
        pos_ = at;
        fail(fmt::format("{}() needs at least one argument", fn));
      }
      double v = args.front();
      for (double a : args) v = fn == "min" ? std::min(v, a) : std::max(v, a);
      return v;
    }
    if (fn == "floor" || fn == "ceil" || fn == "round") {
      want(1);
      return fn == "floor"  ? std::floor(args[0])
             : fn == "ceil" ? std::ceil(args[0])
                            : std::round(args[0]);
    }
    if (fn == "if") {
      want(3);
      return args[0] != 0 ? args[1] : args[2];
    }
    pos_ = at;
    fail(fmt::format("unknown function '{}'", fn));
  }

  std::string_view text_;
  const Facts& facts_;
  bool check_only_;
  size_t pos_ = 0;
};

}  // namespace

double evaluate(std::string_view text, const Facts& facts) {
  return Parser(text, facts, false).run();
}

void check_expression(std::string_view text, const Facts& names) {
  Parser(text, names, true).run();
}

}  // namespace orvane::profile
