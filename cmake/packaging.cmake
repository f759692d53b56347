# Packages, made by cpack in the build directory: a Debian package from the
# Linux build (program, man page, documentation) and a ZIP from a Windows
# build (dorvane.exe, the README and the man page as text).
set(DORVANE_MAINTAINER "Dorvane developers <dorvane@example.org>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME dorvane)
set(CPACK_PACKAGE_VENDOR "Dorvane developers")
set(CPACK_PACKAGE_CONTACT ${DORVANE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build and check MD5 checksum lists of directory trees")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "dorvane walks a directory tree and writes every directory and file in it,\n"
    "each file with its MD5 digest and size, into a checksum list; later it\n"
    "hashes the listed files again and reports those that no longer match.\n"
    "Its list format comes from 32-bit Windows and is kept byte-compatible,\n"
    "so lists made on Windows verify on Linux and the other way round.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: from the libraries the program links, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Directories as Debian has them, whatever the umask of the build.
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

include(CPack)
