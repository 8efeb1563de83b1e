#pragma once
// One instance of a class for the whole process, whichever shared library or the program asks.
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

namespace orvane {

class DecoratorWrap {
 public:
  // The one T of the process; the first request default-constructs it, later ones return it.
  template <typename T>
  static T& singleton() {
    void* p = instance(typeid(T).name(), [] {
      return std::shared_ptr<void>(new T(), [](void* q) { delete static_cast<T*>(q); });
    });
    return *static_cast<T*>(p);
  }

 private:
  // Looks the instance up by type name in a registry held by the common library alone, so that
  // every module of the process shares it.
  static void* instance(const std::string& key, const std::function<std::shared_ptr<void>()>& make);
};

}  // namespace orvane
