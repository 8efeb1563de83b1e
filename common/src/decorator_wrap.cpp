// The registry behind DecoratorWrap::singleton: one map for the whole process.
#include <orvane/decorator_wrap.hpp>

#include <map>

namespace orvane {

void* DecoratorWrap::instance(const std::string& key,
                              const std::function<std::shared_ptr<void>()>& make) {
  // Instances live until the process ends, destroyed after everything that used them.
  static auto* registry = new std::map<std::string, std::shared_ptr<void>>();
  auto it = registry->find(key);
  if (it == registry->end()) it = registry->emplace(key, make()).first;
  return it->second.get();
}

}  // namespace orvane
