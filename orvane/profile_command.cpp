// The handlers of the five profile scenes: `orvane profile <scene> CONF_DIR`.
#include <iostream>
#include <string>

#include <orvane/profile.hpp>

#include "command_module.hpp"

namespace {

int run_profile(const std::string& scene, const orvane::Json& options) {
  return orvane::profile::run_scene(scene, options["CONF_DIR"].get<std::string>(), std::cin,
                                    std::cout, std::cerr);
}

}  // namespace

ORVANE_COMMAND(pro_kafka) {
  return run_profile("kafka_config", options);
}
ORVANE_COMMAND(pro_mysql) {
  return run_profile("mysql_config", options);
}
ORVANE_COMMAND(pro_ats) {
  return run_profile("ats_config", options);
}
ORVANE_COMMAND(pro_specweb) {
  return run_profile("specweb_config", options);
}
ORVANE_COMMAND(pro_dm) {
  return run_profile("dm_config", options);
}
