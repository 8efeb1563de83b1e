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
  set(symbol_map "${PROJECT_SOURCE_DIR}/cmake/exported-symbols.map")
  target_link_options(${target} PRIVATE "-Wl,--version-script=${symbol_map}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${symbol_map}")
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

# orvane_add_command_module(<name> SOURCES ... [LIBS ...])
# The handlers of a group of commands (each defined with ORVANE_COMMAND, orvane/command_module.hpp)
# as a module of its own, lib/orvane/<name>.so, which the program loads only when one of these
# commands runs: the libraries in LIBS (and theirs) cost nothing at start-up then. The program's
# command table (orvane/dispatch.cpp) names the module of each command code.
function(orvane_add_command_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  set(target orvane_module_${name})
  add_library(${target} MODULE ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${ORVANE_MODULE_SUBDIR}"
    CXX_VISIBILITY_PRESET hidden
    # Beside the libraries' lib/, wherever the tree is moved.
    INSTALL_RPATH "$ORIGIN/..")
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/orvane")
  # Only the handlers are looked up; nothing of the static libraries linked in is exported.
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
  target_link_libraries(${target} PRIVATE orvane::common ${ARG_LIBS})
  install(TARGETS ${target} LIBRARY DESTINATION ${ORVANE_MODULE_SUBDIR})
  # Building the program builds its modules, so the build tree runs every command.
  set_property(GLOBAL APPEND PROPERTY ORVANE_COMMAND_MODULES ${target})
endfunction()
