# libgit2 for tarnwickmerge on Linux: static and position-independent, built
# once into the build tree from Debian's source package by tools/build-deps.sh
# (a few CPU-minutes the first time; later configures reuse the result), with
# only what the line diff needs: no HTTPS, SSH, GSSAPI, NTLM or threads, the C
# library's regular expressions and the system's shared zlib. git runs a
# merge driver once per file, and loading the shared libgit2 with the TLS,
# SSH and Kerberos libraries it links costs more than a small merge.
#
# Defines the interface target tw_libgit2_static.
set(TW_DEB_SOURCES_DIR "${PROJECT_SOURCE_DIR}/build/deb-sources" CACHE PATH
    "Where Debian's source packages of libgit2 and its dependencies are kept")
set(TW_NATIVE_DEPS_DIR "${CMAKE_BINARY_DIR}/native-deps" CACHE PATH
    "Where the static libgit2 for tarnwickmerge is installed")
if(NOT EXISTS "${TW_NATIVE_DEPS_DIR}/stamp")
  message(STATUS "Building a static libgit2 into ${TW_NATIVE_DEPS_DIR} (once)")
endif()
execute_process(
  COMMAND sh "${PROJECT_SOURCE_DIR}/tools/build-deps.sh" build "${TW_DEB_SOURCES_DIR}"
          "${TW_NATIVE_DEPS_DIR}" native
  RESULT_VARIABLE tw_native_deps_status)
if(NOT tw_native_deps_status EQUAL 0)
  message(FATAL_ERROR "tools/build-deps.sh failed (${tw_native_deps_status}); it needs "
                      "tools/install-deps.sh native (and the network the first time)")
endif()
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/tools/build-deps.sh")

find_package(ZLIB REQUIRED)
add_library(tw_libgit2_static INTERFACE)
target_include_directories(tw_libgit2_static SYSTEM INTERFACE "${TW_NATIVE_DEPS_DIR}/include")
target_link_libraries(tw_libgit2_static INTERFACE
  "${TW_NATIVE_DEPS_DIR}/lib/libgit2.a" "${TW_NATIVE_DEPS_DIR}/lib/libhttp_parser.a"
  ZLIB::ZLIB)
