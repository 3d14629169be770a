# The tree-sitter runtime that tw_highlight links, as the target tw_tree_sitter.
#
# Linux: Debian's libtree-sitter-dev, its static library, so that the
# program needs no shared library of it at run time.
#
# Windows: Debian's source package of the same version, unpacked once into
# the build tree by tools/build-deps.sh (fetched into build/deb-sources by
# tools/install-deps.sh all, or here when missing); only the runtime's one
# C file (lib/src/lib.c, which includes the others) is compiled, statically.
if(WIN32)
  set(TW_DEB_SOURCES_DIR "${PROJECT_SOURCE_DIR}/build/deb-sources" CACHE PATH
      "Where Debian's source packages of libgit2 and pugixml are kept")
  set(tw_ts_dir "${CMAKE_BINARY_DIR}/tree-sitter-src")
  execute_process(
    COMMAND sh "${PROJECT_SOURCE_DIR}/tools/build-deps.sh" unpack-tree-sitter
            "${TW_DEB_SOURCES_DIR}" "${tw_ts_dir}"
    RESULT_VARIABLE tw_ts_status)
  if(NOT tw_ts_status EQUAL 0)
    message(FATAL_ERROR "tools/build-deps.sh unpack-tree-sitter failed (${tw_ts_status}); "
                        "it needs tools/install-deps.sh all (and the network the first time)")
  endif()
  add_library(tw_tree_sitter STATIC "${tw_ts_dir}/lib/src/lib.c")
  target_include_directories(tw_tree_sitter SYSTEM PUBLIC "${tw_ts_dir}/lib/include")
  target_include_directories(tw_tree_sitter PRIVATE "${tw_ts_dir}/lib/src")
  # Not our code: built without the project's warnings, and optimised as
  # Debian builds it.
  target_compile_options(tw_tree_sitter PRIVATE -w -O2 -g0)
else()
  find_path(TW_TREE_SITTER_INCLUDE tree_sitter/api.h REQUIRED)
  find_library(TW_TREE_SITTER_LIB NAMES libtree-sitter.a tree-sitter REQUIRED)
  add_library(tw_tree_sitter INTERFACE)
  target_include_directories(tw_tree_sitter SYSTEM INTERFACE "${TW_TREE_SITTER_INCLUDE}")
  target_link_libraries(tw_tree_sitter INTERFACE "${TW_TREE_SITTER_LIB}")
endif()
