#!/bin/sh
# tarnwickmerge as built (or installed) loads no shared libgit2, nor the TLS,
# SSH and Kerberos libraries the shared one brings: neither in the program's
# own NEEDED entries nor among everything the loader maps for it (ldd).
# Usage: loads_no_libgit2_test.sh PROGRAM
set -eu
prog=$1
[ -x "$prog" ] || { echo "no program at $prog" >&2; exit 1; }
needed=$(readelf -d "$prog" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || { echo "no NEEDED entries read from $prog" >&2; exit 1; }
loaded=$(ldd "$prog")
bad=$(printf '%s\n%s\n' "$needed" "$loaded" |
  grep -E 'libgit2|libssh2|libmbed|libssl|libcrypto|libgssapi|libkrb5|libhttp_parser|libpcre2' || true)
if [ -n "$bad" ]; then
  echo "$prog loads libraries it should not:" >&2
  echo "$bad" >&2
  exit 1
fi
echo "$prog needs: $(echo $needed)"
