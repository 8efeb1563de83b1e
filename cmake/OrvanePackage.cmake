# Public headers, the CMake package config and the export set of the six libraries.
include(CMakePackageConfigHelpers)

install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/orvane" DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ORVANE_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/orvane")
install(EXPORT orvaneTargets NAMESPACE orvane:: DESTINATION ${ORVANE_CMAKE_DIR})
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/orvaneConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/orvaneConfig.cmake" INSTALL_DESTINATION ${ORVANE_CMAKE_DIR})
write_basic_package_version_file("${PROJECT_BINARY_DIR}/orvaneConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/orvaneConfig.cmake"
  "${PROJECT_BINARY_DIR}/orvaneConfigVersion.cmake" DESTINATION ${ORVANE_CMAKE_DIR})

# The installation directory of the data files exists even before any is installed into it.
install(DIRECTORY DESTINATION ${ORVANE_SHARE_SUBDIR})
file(MAKE_DIRECTORY "${ORVANE_BUILD_SHARE}")
