# The Debian package: `cmake --build BUILD --target package` (scripts/package) makes
# BUILD/tornelvox-utility_VERSION_ARCH.deb from what `cmake --install` installs.
# packaging/CMakeLists.txt names the package, its version and its maintainer.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TORNELVOX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tornelvox Utility developers")
set(CPACK_PACKAGE_CONTACT ${TORNELVOX_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TORNELVOX_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TORNELVOX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line is the summary; CPack indents the rest, and an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Check, update and set up a Tornelvox Bluetooth telephone adapter
The Tornelvox adapter is a USB serial device whose Bluetooth chip pairs
with a phone and serves an ordinary telephone. This package finds the
adapter among the serial devices, reads its firmware version, updates its
firmware while keeping its Bluetooth address, and reads and writes its
telephony settings: in a window (tornelvox-utility) or on the command line
(tornelvox). tornelvox-emulator plays the adapter on a pseudo-terminal, for
trying both without one.")
# A build without the vendor's image says so where a user choosing the package reads.
get_filename_component(package_image ${TORNELVOX_FIRMWARE_IMAGE} ABSOLUTE)
if(package_image STREQUAL "${PROJECT_SOURCE_DIR}/firmware/firmware_image.bin")
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "

This build carries the project's placeholder firmware image, not the
vendor's: it updates only the emulated adapter, never a real one.")
endif()

include(CPack)
