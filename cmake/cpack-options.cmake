# Read by cpack once per package: which install components each package
# takes, and where the .deb installs.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr/lib/tarnwick")
  set(CPACK_COMPONENTS_ALL Unspecified debian)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL Unspecified archive)
  # Unpacked, it makes one folder named after the package, as without components.
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
