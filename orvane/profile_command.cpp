// From the options record to the profile run.
#include "profile_command.hpp"

#include <iostream>
#include <string>

#include <orvane/profile.hpp>

namespace orvane {

int run_profile(const Json& options) {
  // "pro_kafka" -> "kafka_config"
  const std::string scene = options["func"].get<std::string>().substr(4) + "_config";
  return profile::run_scene(scene, options["CONF_DIR"].get<std::string>(), std::cin, std::cout,
                            std::cerr);
}

}  // namespace orvane
