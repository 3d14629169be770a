# Installation layout: <prefix>/bin holds the three programs and the prompt
# tool, <prefix>/Brightdesk the graphical client: the Qt one where it is
# built, else the stand-in that keeps the contract (Windows, or a Linux build
# without Qt). The stand-in stays in the build tree for the tests either way.
install(TARGETS tarnwick hollin_service tarnwickutf8 fernask RUNTIME DESTINATION bin)
if(TW_BUILD_GUI)
  install(TARGETS marlow_gui RUNTIME DESTINATION Brightdesk)
else()
  install(TARGETS marlow RUNTIME DESTINATION Brightdesk)
endif()

set(CPACK_PACKAGE_NAME "tarnwick")
set(CPACK_PACKAGE_VENDOR "tarnwick developers")
set(CPACK_PACKAGE_CONTACT "tarnwick developers <maintainers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line compare and merge through a per-user relay service")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
if(WIN32)
  set(CPACK_GENERATOR "ZIP")
else()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/opt/tarnwick")
  if(TW_BUILD_GUI)
    # The graphical client links Qt, libgit2 and the shared C++ runtime:
    # dpkg-shlibdeps names the packages that provide them.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()
include(CPack)
