#include <orvane/cmdfront.hpp>
#include <orvane/phaseclock.hpp>

#include <iostream>

int main() {
  orvane::Timer& t = orvane::DecoratorWrap::singleton<orvane::Timer>();
  t.tick("start");
  std::cout << t.max_runtime << "\n";
  return 0;
}
