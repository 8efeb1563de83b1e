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

# ---------------------------------------------------------------------------------------------
# Manual page, bash completion and the Debian package (`cmake --build <dir> --target package`).
# Configure with -DCMAKE_INSTALL_PREFIX=/usr for Debian's multiarch library directory; the
# package then installs under /usr, its configuration in /etc/orvane and its state directory
# /var/lib/orvane (see deploy/debian/stage.cmake for what only the package gets).

# Debian wants manual pages compressed, and reproducibly (-n: no name or time stamp).
set(ORVANE_MAN_GZ "${CMAKE_BINARY_DIR}/man/orvane.8.gz")
add_custom_command(OUTPUT "${ORVANE_MAN_GZ}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
  COMMAND gzip -9n -c "${PROJECT_SOURCE_DIR}/doc/orvane.8" > "${ORVANE_MAN_GZ}"
  DEPENDS "${PROJECT_SOURCE_DIR}/doc/orvane.8" VERBATIM)
set(ORVANE_CHANGELOG_GZ "${CMAKE_BINARY_DIR}/man/changelog.Debian.gz")
add_custom_command(OUTPUT "${ORVANE_CHANGELOG_GZ}"
  COMMAND gzip -9n -c "${PROJECT_SOURCE_DIR}/deploy/debian/changelog" > "${ORVANE_CHANGELOG_GZ}"
  DEPENDS "${PROJECT_SOURCE_DIR}/deploy/debian/changelog" VERBATIM)
add_custom_target(orvane_docs ALL DEPENDS "${ORVANE_MAN_GZ}" "${ORVANE_CHANGELOG_GZ}")

install(FILES "${ORVANE_MAN_GZ}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man8")
# bash-completion loads completions/<command> on first use of the command.
install(FILES "${PROJECT_SOURCE_DIR}/deploy/completion/orvane"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
install(FILES "${PROJECT_SOURCE_DIR}/deploy/debian/copyright" "${ORVANE_CHANGELOG_GZ}"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/deploy/debian/lintian-overrides"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides" RENAME orvane)

# Data files an administrator may edit (orvane_add_share(... CONFFILE ...)): a copy in
# etc/orvane/, which the program reads before the installation's default, and in the package a
# conffile that dpkg keeps across upgrades when it was edited.
get_property(ORVANE_CONFFILES GLOBAL PROPERTY ORVANE_CONFFILES)
set(ORVANE_CONFFILES_TEXT "")
foreach(rel IN LISTS ORVANE_CONFFILES)
  string(APPEND ORVANE_CONFFILES_TEXT "/etc/orvane/${rel}\n")
endforeach()
file(WRITE "${CMAKE_BINARY_DIR}/debian/conffiles" "${ORVANE_CONFFILES_TEXT}")
# The libraries are in the system's directory: dpkg runs ldconfig once after the installation.
file(WRITE "${CMAKE_BINARY_DIR}/debian/triggers" "activate-noawait ldconfig\n")
foreach(script postinst postrm)
  configure_file("${PROJECT_SOURCE_DIR}/deploy/debian/${script}"
    "${CMAKE_BINARY_DIR}/debian/${script}" COPYONLY)
endforeach()
# A umask of 002 would otherwise give group-writable control files, which dpkg refuses.
file(CHMOD "${CMAKE_BINARY_DIR}/debian/conffiles" "${CMAKE_BINARY_DIR}/debian/triggers"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(CHMOD "${CMAKE_BINARY_DIR}/debian/postinst" "${CMAKE_BINARY_DIR}/debian/postrm"
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "orvane maintainers <maintainers@orvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "expert performance-tuning tool for servers")
set(CPACK_PACKAGE_DESCRIPTION "orvane collects a server's performance data, analyses it into
findings and tuning advice with a self-contained HTML report and a JSON result,
applies preset workload profiles and tuned settings with a journal that can put
every change back, and tunes a workload's parameters with a Bayesian optimiser.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/deploy/debian/stage.cmake")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own libraries are in the package; dpkg-shlibdeps looks for them there (the
# path is relative to the staging directory, where CPack runs it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${CMAKE_INSTALL_LIBDIR}")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
# What the collector and the report run on the host, besides the libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps, iproute2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sysstat, ethtool, net-tools, fdisk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "linux-perf, bash-completion, ansible-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/debian/conffiles"
  "${CMAKE_BINARY_DIR}/debian/triggers"
  "${CMAKE_BINARY_DIR}/debian/postinst" "${CMAKE_BINARY_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Read by stage.cmake at packaging time.
set(CPACK_ORVANE_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
include(CPack)
