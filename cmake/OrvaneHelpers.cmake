# orvane_add_library(<target> EXPORT_NAME <name> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Declares one of the project's shared libraries: public headers from include/, exported as
# orvane::<name>, installed into lib/.
function(orvane_add_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  add_library(orvane::${ARG_EXPORT_NAME} ALIAS ${target})
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${ARG_EXPORT_NAME}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  install(TARGETS ${target} EXPORT orvaneTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# orvane_add_share(<dest-subdir> [CONFFILE] FILES ...): data files of the installation directory,
# copied into the build tree's share/orvane/ as well so that the program runs from the build tree.
# CONFFILE: a file an administrator may edit; it is also installed as etc/orvane/<dest-subdir>/,
# which Config::find_data_file reads first (a conffile in /etc/orvane in the Debian package).
function(orvane_add_share dest)
  cmake_parse_arguments(ARG "CONFFILE" "" "FILES" ${ARGN})
  foreach(f IN LISTS ARG_FILES)
    get_filename_component(fname "${f}" NAME)
    configure_file("${f}" "${ORVANE_BUILD_SHARE}/${dest}/${fname}" COPYONLY)
    if(ARG_CONFFILE)
      set_property(GLOBAL APPEND PROPERTY ORVANE_CONFFILES "${dest}/${fname}")
    endif()
  endforeach()
  install(FILES ${ARG_FILES} DESTINATION "${ORVANE_SHARE_SUBDIR}/${dest}")
  if(ARG_CONFFILE)
    install(FILES ${ARG_FILES} DESTINATION "${CMAKE_INSTALL_SYSCONFDIR}/orvane/${dest}")
  endif()
endfunction()
