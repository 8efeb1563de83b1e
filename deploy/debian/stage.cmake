# Run by CPack on the package's staging tree, after the install and before the archive is made:
# what the Debian package has and the relocatable install tree has not.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT IS_DIRECTORY "${root}/usr")
  message(FATAL_ERROR "stage.cmake: no usr/ in the staging tree ${root}")
endif()

# The configuration belongs in /etc, not /usr/etc.
if(IS_DIRECTORY "${root}/usr/etc")
  file(RENAME "${root}/usr/etc" "${root}/etc")
endif()

# The state directory holds change journals whose stored shell text orvane runs as root:
# only root may read or write it.
file(MAKE_DIRECTORY "${root}/var/lib/orvane")
file(CHMOD "${root}/var/lib/orvane" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# The installed binaries and command modules find the libraries in the system's directories; a RUNPATH of
# $ORIGIN/../lib is the relocatable tree's, not the package's.
file(GLOB binaries "${root}/usr/bin/*" "${root}/usr/${CPACK_ORVANE_LIBDIR}/*.so.*"
  "${root}/usr/${CPACK_ORVANE_LIBDIR}/orvane/*.so")
foreach(f IN LISTS binaries)
  if(NOT IS_SYMLINK "${f}")
    file(RPATH_REMOVE FILE "${f}")
  endif()
endforeach()
