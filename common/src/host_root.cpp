// The root prefix of every system path orvane knows itself.
#include <orvane/host_root.hpp>

#include <cstdlib>

namespace orvane {

std::filesystem::path host_root() {
  const char* root = std::getenv("ORVANE_ROOT");
  return (root != nullptr && *root != '\0') ? std::filesystem::path(root) : "/";
}

std::filesystem::path host_path(std::string_view system_path) {
  const std::filesystem::path root = host_root();
  while (!system_path.empty() && system_path.front() == '/') system_path.remove_prefix(1);
  if (root == "/") return std::filesystem::path("/") / system_path;
  return root / system_path;
}

}  // namespace orvane
