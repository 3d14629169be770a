# The Windows installer: an .msi made with wixl (Debian's msitools), built by
# cpack beside the .zip from the same staged installation (see
# cmake/msi-build.cmake). Without wixl and msibuild only the .zip is made.
find_program(TW_WIXL wixl)
find_program(TW_MSIBUILD msibuild)
if(TW_WIXL AND TW_MSIBUILD)
  list(APPEND CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/msi-build.cmake")
  set(CPACK_TW_WIXL "${TW_WIXL}")
  set(CPACK_TW_MSIBUILD "${TW_MSIBUILD}")
  # Stays the same for every version, so that a newer installer replaces an
  # older one instead of installing beside it.
  set(CPACK_TW_UPGRADE_CODE "4CB80FAD-2AB9-4D29-807A-E69137E7F3FC")
  # The component that owns the PATH entry and the installation folder.
  set(CPACK_TW_PATH_COMPONENT_GUID "E3EDA9FA-5F92-4B6E-82B3-144CF2A8D107")
else()
  message(STATUS "wixl or msibuild not found: no .msi (tools/install-deps.sh all installs them)")
endif()
