// Text forms of tuning values.
#include <orvane/value_text.hpp>

#include <fmt/format.h>

namespace orvane::tuning {
namespace {

std::string real_text(double x) {
  std::string s = fmt::format("{}", x);
  if (s.find_first_of(".eni") == std::string::npos) s += ".0";
  return s;
}

std::string quoted(const std::string& s) {
  const char quote =
      (s.find('\'') != std::string::npos && s.find('"') == std::string::npos) ? '"' : '\'';
  std::string r(1, quote);
  for (unsigned char c : s) {
    if (c == '\\' || c == static_cast<unsigned char>(quote)) {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\r') {
      r += "\\r";
    } else if (c == '\t') {
      r += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      r += fmt::format("\\x{:02x}", c);
    } else {
      r += static_cast<char>(c);
    }
  }
  r += quote;
  return r;
}

std::string repr(const Json& v) {
  switch (v.type()) {
    case Json::value_t::string:
      return quoted(v.get<std::string>());
    case Json::value_t::number_float:
      return real_text(v.get<double>());
    case Json::value_t::boolean:
      return v.get<bool>() ? "True" : "False";
    case Json::value_t::null:
      return "None";
    case Json::value_t::object:
      return map_text(v);
    case Json::value_t::array: {
      std::string r = "[";
      for (size_t i = 0; i < v.size(); ++i) r += (i ? ", " : "") + repr(v[i]);
      return r + "]";
    }
    default:
      return v.dump();
  }
}

}  // namespace

std::string value_text(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return value.get<std::string>();
    case Json::value_t::number_float:
      return real_text(value.get<double>());
    default:
      return value.dump();
  }
}

std::string map_text(const Json& map) {
  std::string r = "{";
  bool first = true;
  for (const auto& [key, value] : map.items()) {
    if (!first) r += ", ";
    first = false;
    r += quoted(key) + ": " + repr(value);
  }
  return r + "}";
}

}  // namespace orvane::tuning
