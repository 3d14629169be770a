# The merge engine's libraries for the Windows cross build: libgit2 (with
# pcre2, http-parser and zlib) and pugixml, static, built once into the build
# tree from Debian's source packages by tools/build-deps.sh (several
# CPU-minutes the first time; later configures reuse the result). The
# downloaded source packages are kept under build/ for every build tree.
#
# Defines the interface targets tw_libgit2 and tw_pugixml.
set(TW_DEB_SOURCES_DIR "${PROJECT_SOURCE_DIR}/build/deb-sources" CACHE PATH
    "Where Debian's source packages of libgit2 and pugixml are kept")
set(TW_MINGW_DEPS_DIR "${CMAKE_BINARY_DIR}/mingw-deps" CACHE PATH
    "Where the Windows build of libgit2 and pugixml is installed")
set(tw_deps_prefix "${TW_MINGW_DEPS_DIR}")
if(NOT EXISTS "${tw_deps_prefix}/stamp")
  message(STATUS "Building libgit2 and pugixml for Windows into ${TW_MINGW_DEPS_DIR} (once)")
endif()
execute_process(
  COMMAND sh "${PROJECT_SOURCE_DIR}/tools/build-deps.sh" build "${TW_DEB_SOURCES_DIR}"
          "${TW_MINGW_DEPS_DIR}" "${CMAKE_TOOLCHAIN_FILE}"
  RESULT_VARIABLE tw_deps_status)
if(NOT tw_deps_status EQUAL 0)
  message(FATAL_ERROR "tools/build-deps.sh failed (${tw_deps_status}); "
                      "it needs tools/install-deps.sh all (and the network the first time)")
endif()
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/tools/build-deps.sh")

set(tw_mingw_zlib "${CMAKE_FIND_ROOT_PATH}/lib/libz.a")
if(NOT EXISTS "${tw_mingw_zlib}")
  message(FATAL_ERROR "${tw_mingw_zlib} is missing: install libz-mingw-w64-dev")
endif()

add_library(tw_libgit2 INTERFACE)
target_include_directories(tw_libgit2 SYSTEM INTERFACE "${tw_deps_prefix}/include")
target_link_libraries(tw_libgit2 INTERFACE
  "${tw_deps_prefix}/lib/libgit2.a" "${tw_deps_prefix}/lib/libpcre2-8.a"
  "${tw_deps_prefix}/lib/libhttp_parser.a" "${tw_mingw_zlib}"
  ws2_32 secur32 rpcrt4 crypt32 ole32 advapi32)

add_library(tw_pugixml INTERFACE)
target_include_directories(tw_pugixml SYSTEM INTERFACE "${tw_deps_prefix}/include")
target_link_libraries(tw_pugixml INTERFACE "${tw_deps_prefix}/lib/libpugixml.a")
