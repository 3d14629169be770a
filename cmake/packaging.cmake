# Installation layout: <prefix>/bin holds the three programs, the prompt
# tool and the git set-up script, <prefix>/Brightdesk the graphical client:
# on Windows the native one (gui/win32), on Linux the Qt one where it is
# built, else (a Linux build without Qt) the program that answers every call
# with a fault saying that this installation has no graphical client. The tests' stand-in, which answers
# success, is never installed. The programs find the installation from
# their own resolved path, so a link to them elsewhere works.
#
# Packages: on Linux a .tar.gz (the installation under opt/tarnwick, manual
# pages in its share/man) and a .deb (the installation in /usr/lib/tarnwick,
# links to the commands in /usr/bin, manual pages in /usr/share/man); on
# Windows a .zip and an .msi (see cmake/msi.cmake).
install(TARGETS tarnwick hollin_service tarnwickutf8 fernask RUNTIME DESTINATION bin)
install(PROGRAMS packaging/tarnwick-git-setup DESTINATION bin)
# The licence at the top of the installation (the .zip, .msi and .tar.gz);
# the .deb carries it in its copyright file instead, as Debian wants.
if(WIN32)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  install(FILES LICENSE DESTINATION . COMPONENT archive)
endif()
# The programs link libraries statically (libgit2 and http-parser into
# tarnwickmerge, the tree-sitter runtime and grammars into the graphical
# client; on Windows pcre2, pugixml and zlib as well): their copyright and
# licence files go in the folder "licenses", one file each (in the .deb in
# its documentation folder, beside its copyright file).
if(DEFINED TW_DEB_SOURCES_DIR)
  set(tw_notices "${CMAKE_BINARY_DIR}/licenses")
  execute_process(
    COMMAND sh "${PROJECT_SOURCE_DIR}/tools/build-deps.sh" notices "${TW_DEB_SOURCES_DIR}"
            "${tw_notices}"
    RESULT_VARIABLE tw_notices_status)
  if(NOT tw_notices_status EQUAL 0)
    message(FATAL_ERROR "tools/build-deps.sh notices failed (${tw_notices_status})")
  endif()
  if(WIN32)
    install(DIRECTORY "${tw_notices}/" DESTINATION licenses PATTERN stamp EXCLUDE)
  else()
    install(DIRECTORY "${tw_notices}/" DESTINATION licenses COMPONENT archive
            PATTERN stamp EXCLUDE)
    install(DIRECTORY "${tw_notices}/" DESTINATION /usr/share/doc/tarnwick/licenses
            COMPONENT debian EXCLUDE_FROM_ALL PATTERN stamp EXCLUDE)
  endif()
endif()
if(WIN32)
  install(TARGETS marlow_win32 RUNTIME DESTINATION Brightdesk)
elseif(TW_BUILD_GUI)
  install(TARGETS marlow_gui RUNTIME DESTINATION Brightdesk)
else()
  install(TARGETS marlow_noclient RUNTIME DESTINATION Brightdesk)
endif()

# What an installation takes, and only that: `cmake --build --target
# installation` builds enough for `cmake --install` (tools/main-job.sh),
# without the tests and benchmarks. The manual pages join below.
add_custom_target(installation)
add_dependencies(installation tarnwick hollin_service tarnwickutf8 fernask)
if(WIN32)
  add_dependencies(installation marlow_win32)
elseif(TW_BUILD_GUI)
  add_dependencies(installation marlow_gui)
else()
  add_dependencies(installation marlow_noclient)
endif()
if(TARGET tarnwickmerge)
  add_dependencies(installation tarnwickmerge)
endif()

set(CPACK_PACKAGE_NAME "tarnwick")
set(CPACK_PACKAGE_VENDOR "tarnwick developers")
set(CPACK_PACKAGE_CONTACT "tarnwick developers <maintainers@users.noreply.c-seed-1cc55c70.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line compare and merge through a per-user relay service")
set(CPACK_PACKAGE_DESCRIPTION
    "tarnwick hands a compare or a merge of text files to a graphical client,\n"
    "through a relay service that each user runs, and waits for the answer.\n"
    "tarnwickutf8 does the same with every file read as UTF-8, and\n"
    "tarnwick-git-setup makes tarnwick git's merge and diff tool.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR "ZIP")
  include(${CMAKE_CURRENT_LIST_DIR}/msi.cmake)
else()
  # The commands on the PATH, each with its manual page.
  set(tw_commands tarnwick tarnwickutf8 tarnwick-git-setup)
  if(TARGET tarnwickmerge)
    list(APPEND tw_commands tarnwickmerge)
  endif()
  set(tw_man_pages ${tw_commands} hollin_service)

  # Manual pages: docs/man/<page>.1 is the one source, compressed for
  # installation as Debian wants them (gzip -9n: no name or time inside, so
  # the package is reproducible).
  set(tw_man_dir "${CMAKE_BINARY_DIR}/man")
  set(tw_man_outputs "")
  foreach(page IN LISTS tw_man_pages)
    set(src "${PROJECT_SOURCE_DIR}/docs/man/${page}.1")
    set(out "${tw_man_dir}/${page}.1.gz")
    add_custom_command(OUTPUT "${out}"
                       COMMAND ${CMAKE_COMMAND} -E make_directory "${tw_man_dir}"
                       COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" "${src}" "${out}"
                       DEPENDS "${src}" VERBATIM)
    list(APPEND tw_man_outputs "${out}")
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${tw_man_outputs})
  add_dependencies(installation man_pages)

  # The .tar.gz keeps everything inside the installation.
  install(FILES ${tw_man_outputs} DESTINATION share/man/man1 COMPONENT archive)

  # The .deb: relative links in /usr/bin (the installation is in /usr/lib),
  # manual pages, copyright and changelog where Debian looks for them. These
  # paths are absolute, so they are left out of a plain `cmake --install`,
  # which would otherwise write into the machine's /usr whatever the prefix.
  set(tw_links "${CMAKE_BINARY_DIR}/deb-links")
  file(REMOVE_RECURSE "${tw_links}")
  file(MAKE_DIRECTORY "${tw_links}")
  foreach(command IN LISTS tw_commands)
    file(CREATE_LINK "../lib/tarnwick/bin/${command}" "${tw_links}/${command}" SYMBOLIC)
    install(FILES "${tw_links}/${command}" DESTINATION /usr/bin COMPONENT debian EXCLUDE_FROM_ALL)
  endforeach()
  install(FILES ${tw_man_outputs} DESTINATION /usr/share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
  configure_file(packaging/changelog.in "${CMAKE_BINARY_DIR}/changelog" @ONLY)
  add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/changelog.gz"
                     COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" "${CMAKE_BINARY_DIR}/changelog"
                             "${CMAKE_BINARY_DIR}/changelog.gz"
                     DEPENDS "${CMAKE_BINARY_DIR}/changelog" VERBATIM)
  add_custom_target(deb_changelog ALL DEPENDS "${CMAKE_BINARY_DIR}/changelog.gz")
  install(FILES packaging/copyright "${CMAKE_BINARY_DIR}/changelog.gz"
          DESTINATION /usr/share/doc/tarnwick COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/opt/tarnwick")
  # Each package takes the installation and its own extras; the per-package
  # choice (and the .deb's prefix) is made in cmake/cpack-options.cmake.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake")
  set(CPACK_DEBIAN_PACKAGE_NAME "tarnwick")
  set(CPACK_DEBIAN_PACKAGE_SECTION "devel")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "git")
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
