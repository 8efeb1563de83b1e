#include <orvane/decorator_wrap.hpp>

#include <gtest/gtest.h>

#include "singleton_probe.hpp"

namespace orvane {
namespace {

struct Other {
  int value = 7;
};

TEST(Singleton, SameInstanceFromEveryModule) {
  testing::Probe* a = testing::probe_from_library_a();
  testing::Probe* b = testing::probe_from_library_b();
  testing::Probe& here = DecoratorWrap::singleton<testing::Probe>();
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, &here);
  a->value = 42;
  EXPECT_EQ(DecoratorWrap::singleton<testing::Probe>().value, 42);  // never reset
}

TEST(Singleton, OneInstancePerType) {
  EXPECT_EQ(DecoratorWrap::singleton<Other>().value, 7);
  EXPECT_NE(static_cast<void*>(&DecoratorWrap::singleton<Other>()),
            static_cast<void*>(&DecoratorWrap::singleton<testing::Probe>()));
}

}  // namespace
}  // namespace orvane
