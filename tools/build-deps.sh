#!/bin/sh
# The libraries the merge engine links statically, from Debian's own source
# packages of this release:
#   - for the Windows cross build: libgit2 and pugixml, with libgit2's pcre2
#     and http-parser, as static MinGW libraries;
#   - for Linux (tarnwickmerge, which git starts once per file, so that it
#     does not pay for loading the shared libgit2 and the TLS, SSH and
#     Kerberos libraries it links): libgit2 and http-parser, static and
#     position-independent. Its regular expressions are the C library's
#     (regcomp) and zlib is the system's shared libz, part of every Debian
#     system and kept up to date by it: the program carries no copy of a
#     library that has its own security updates beyond libgit2's, of which
#     only the line diff is used.
#
# And the tree-sitter runtime (the panes' syntax highlighting) for the
# Windows build: its source package is only unpacked here; the build
# compiles its one C file (cmake/tree-sitter-runtime.cmake).
#
# Usage: build-deps.sh fetch SOURCES
#        build-deps.sh build SOURCES PREFIX TOOLCHAIN_FILE   (Windows)
#        build-deps.sh build SOURCES PREFIX native           (Linux)
#        build-deps.sh unpack-tree-sitter SOURCES DIR
#
# fetch downloads the source packages into SOURCES (once) with apt-get
# through a private source list and private package lists under
# SOURCES/apt: the system's apt configuration is neither used for sources
# nor changed. tools/install-deps.sh calls it.
#
# build (called when the build is configured) builds them into PREFIX
# (include, lib), fetching first when needed. Only what the engine uses is
# built: no HTTPS, SSH, GSSAPI, NTLM, threads, command-line program, tests or
# examples. PREFIX/stamp names the versions and the target; a second run
# with the same does nothing, so the build (a few CPU-minutes) is paid once
# per build tree. For Windows, zlib comes from Debian's binary package
# libz-mingw-w64-dev.
set -eu
usage() {
  echo "usage: build-deps.sh fetch SOURCES | build SOURCES PREFIX TOOLCHAIN_FILE|native" \
    "| unpack-tree-sitter SOURCES DIR" >&2
  exit 2
}
[ $# -ge 2 ] || usage
action=$1
mkdir -p "$2"
sources=$(cd "$2" && pwd)

# The versions of this Debian release (bookworm, as in its main archive).
LIBGIT2=1.5.1+ds-1+deb12u1
PCRE2=10.42-1
HTTP_PARSER=2.9.4-5
PUGIXML=1.13-0.2
want="libgit2=$LIBGIT2 pcre2=$PCRE2 http-parser=$HTTP_PARSER pugixml=$PUGIXML"

# The same version as the Linux build's libtree-sitter-dev.
TREE_SITTER=0.20.7-1
# Every source package, as NAME=VERSION.
packages="$want tree-sitter=$TREE_SITTER"

missing_sources() { # DIR: the packages whose source DIR does not hold yet
  for p in $packages; do
    [ -f "$1/${p%%=*}_${p#*=}.dsc" ] || printf '%s ' "$p"
  done
}
fetch() {
  missing=$(missing_sources "$sources")
  [ -n "$missing" ] || return 0
  # Checkouts set up before the native build used these sources kept them
  # in build/mingw-sources: what is there is taken rather than fetched.
  old=$(dirname "$sources")/mingw-sources
  for p in $missing; do
    dsc="$old/${p%%=*}_${p#*=}.dsc"
    [ -f "$dsc" ] || continue
    files=$(sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]* [0-9]* //p' "$dsc")
    # shellcheck disable=SC2086 # the package's file names, one word each
    (cd "$old" && cp "$dsc" $files "$sources"/)
  done
  missing=$(missing_sources "$sources")
  [ -n "$missing" ] || return 0
  echo "build-deps: fetching Debian sources: $missing"
  apt_dir=$sources/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" >"$apt_dir/sources.list"
  apt_opts="-o Dir::Etc::SourceList=$apt_dir/sources.list -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists=$apt_dir/lists -o Dir::Cache=$apt_dir/cache
    -o Debug::NoLocking=true -o APT::Sandbox::User=$(id -un) -qq"
  # shellcheck disable=SC2086
  apt-get $apt_opts update
  # shellcheck disable=SC2086
  (cd "$sources" && apt-get $apt_opts source --download-only $missing)
}

case "$action" in
  fetch)
    [ $# -eq 2 ] || usage
    fetch
    exit 0
    ;;
  unpack-tree-sitter)
    # DIR gets the runtime's sources with Debian's patches applied; a second
    # run with the same version does nothing.
    [ $# -eq 3 ] || usage
    dir=$3
    if [ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "tree-sitter=$TREE_SITTER" ]; then
      exit 0
    fi
    fetch
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    dpkg-source --no-check -x "$sources/tree-sitter_$TREE_SITTER.dsc" "$dir" >/dev/null
    echo "tree-sitter=$TREE_SITTER" >"$dir/stamp"
    exit 0
    ;;
  build) [ $# -eq 4 ] || usage ;;
  *) usage ;;
esac
mkdir -p "$3"
prefix=$(cd "$3" && pwd)
toolchain=$4
# The Windows build's stamp stays the versions alone, as before.
stamp=$want
[ "$toolchain" != native ] || stamp="$want native"
if [ -f "$prefix/stamp" ] && [ "$(cat "$prefix/stamp")" = "$stamp" ]; then
  exit 0
fi
fetch
work=$prefix.work
rm -rf "$prefix" "$work"
mkdir -p "$prefix/include" "$prefix/lib" "$work"

unpack() { # NAME DSC: unpacks with Debian's patches applied into WORK/NAME
  (cd "$work" && dpkg-source --no-check -x "$sources/$2" "$1" >/dev/null)
}
jobs=${TW_DEPS_JOBS:-2}
libgit2_common="-DBUILD_TESTS=OFF -DBUILD_CLI=OFF -DBUILD_EXAMPLES=OFF -DBUILD_FUZZERS=OFF
  -DUSE_THREADS=OFF -DUSE_HTTPS=OFF -DUSE_SSH=OFF -DUSE_GSSAPI=OFF -DUSE_NTLMCLIENT=OFF
  -DUSE_BUNDLED_ZLIB=OFF -DUSE_HTTP_PARSER=system
  -DHTTP_PARSER_INCLUDE_DIR=$prefix/include -DHTTP_PARSER_LIBRARY=$prefix/lib/libhttp_parser.a"

if [ "$toolchain" = native ]; then
  unpack libgit2 "libgit2_$LIBGIT2.dsc"
  unpack http-parser "http-parser_$HTTP_PARSER.dsc"
  cc=${CC:-cc}
  # 1. http-parser: one C file (libgit2's HTTP transport needs it at link
  # time; the merge never calls it and the linker drops it).
  $cc -O2 -fPIC -c "$work/http-parser/http_parser.c" -o "$work/http_parser.o"
  ar rcs "$prefix/lib/libhttp_parser.a" "$work/http_parser.o"
  cp "$work/http-parser/http_parser.h" "$prefix/include/"
  # 2. libgit2, position-independent so that it links into the
  # position-independent program. Sections per function let the program's
  # --gc-sections drop what the merge does not reach.
  # shellcheck disable=SC2086
  cmake -S "$work/libgit2" -B "$work/libgit2-build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DCMAKE_C_FLAGS="-ffunction-sections -fdata-sections" \
    $libgit2_common -DREGEX_BACKEND=regcomp -DUSE_ICONV=OFF >/dev/null
  cmake --build "$work/libgit2-build" -j"$jobs" --target install >/dev/null
  rm -rf "$work"
  echo "$stamp" >"$prefix/stamp"
  echo "build-deps: built $stamp into $prefix"
  exit 0
fi

unpack libgit2 "libgit2_$LIBGIT2.dsc"
unpack pcre2 "pcre2_$PCRE2.dsc"
unpack http-parser "http-parser_$HTTP_PARSER.dsc"
unpack pugixml "pugixml_$PUGIXML.dsc"
# Built without threads, libgit2 still globs its Win32 thread file, which
# then clashes with the single-threaded stand-ins: it is left out.
rm "$work/libgit2/src/util/win32/thread.c"

cmake_common="-G Ninja -DCMAKE_TOOLCHAIN_FILE=$toolchain -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=$prefix -DBUILD_SHARED_LIBS=OFF"
cc=x86_64-w64-mingw32-gcc-posix

# 2. pcre2: the 8-bit library only, without JIT.
# shellcheck disable=SC2086
cmake -S "$work/pcre2" -B "$work/pcre2-build" $cmake_common \
  -DBUILD_STATIC_LIBS=ON -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF \
  -DPCRE2_BUILD_PCRE2_32=OFF -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
  -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF \
  -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF >/dev/null
cmake --build "$work/pcre2-build" -j"$jobs" --target install >/dev/null
# Its static library may carry a suffix on Windows; libgit2 looks for pcre2-8.
for a in "$prefix"/lib/libpcre2-8*.a; do
  [ "$a" = "$prefix/lib/libpcre2-8.a" ] || cp "$a" "$prefix/lib/libpcre2-8.a"
done

# 3. http-parser: one C file.
$cc -O2 -c "$work/http-parser/http_parser.c" -o "$work/http_parser.o"
x86_64-w64-mingw32-ar rcs "$prefix/lib/libhttp_parser.a" "$work/http_parser.o"
cp "$work/http-parser/http_parser.h" "$prefix/include/"

# 4. pugixml.
# shellcheck disable=SC2086
cmake -S "$work/pugixml" -B "$work/pugixml-build" $cmake_common \
  -DPUGIXML_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/pugixml-build" -j"$jobs" --target install >/dev/null

# 5. libgit2. pcre2.h declares its functions as DLL imports unless told it
# is linked statically.
# shellcheck disable=SC2086
cmake -S "$work/libgit2" -B "$work/libgit2-build" $cmake_common \
  -DCMAKE_C_FLAGS=-DPCRE2_STATIC -DCMAKE_FIND_ROOT_PATH="/usr/x86_64-w64-mingw32;$prefix" \
  $libgit2_common -DUSE_WINHTTP=OFF -DREGEX_BACKEND=pcre2 \
  -DPCRE2_INCLUDE_DIR="$prefix/include" -DPCRE2_LIBRARY="$prefix/lib/libpcre2-8.a" \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
  -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include >/dev/null
cmake --build "$work/libgit2-build" -j"$jobs" --target install >/dev/null

# The unpacked sources and objects are not needed any more; the downloaded
# source packages stay for the next build tree.
rm -rf "$work"
echo "$stamp" >"$prefix/stamp"
echo "build-deps: built $stamp into $prefix"
