// The yes/no question.
#include <orvane/ask.hpp>

#include <istream>
#include <ostream>

namespace orvane {

std::optional<bool> ask_yes_no(const std::string& question, std::istream& in, std::ostream& out) {
  while (true) {
    out << question << "(Y/N):" << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) return std::nullopt;
    if (answer == "Y" || answer == "y") return true;
    if (answer == "N" || answer == "n") return false;
  }
}

}  // namespace orvane
