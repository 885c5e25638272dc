#!/bin/sh
# Checks the Debian packages as they would be installed: all unpacked into one scratch root, the
# tool runs on the bundled sample, the Python module gives the same bytes, and the C example
# builds against the development package through pkg-config.
#
# usage: check-debs.sh DEB_DIR   (run from the source tree)
set -eu
debs=$1
check=$debs/package-check
root=$check/root
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expected=tests/data/thank-you.msg

rm -rf "$check" && mkdir -p "$check"
for package in aamsg libaamsg0 libaamsg-dev python3-aamsg; do
    deb=$(ls "$debs/${package}_"*.deb)
    dpkg -x "$deb" "$root"
    echo "$deb:" && dpkg -c "$deb" | awk '$1 !~ /^d/ { print "  " $1, $6, $7, $8 }'
done
test -f "$root/usr/share/man/man1/aamsg.1.gz"

LD_LIBRARY_PATH=$libdir "$root/usr/bin/aamsg" e samples/thank-you.wav "$check/tool.msg" >/dev/null
cmp "$check/tool.msg" "$expected"

LD_LIBRARY_PATH=$libdir PYTHONPATH=$root/usr/lib/python3/dist-packages python3 examples/convert.py e samples/thank-you.wav "$check/python.msg" >/dev/null
cmp "$check/python.msg" "$expected"

# pkg-config puts the scratch root before the .pc file's /usr paths. The libraries the package
# depends on (FFmpeg's, libsoxr) are the system's, so their .pc files are looked up there too.
flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$libdir/pkgconfig:$(pkg-config --variable pc_path pkg-config) \
  pkg-config --cflags --libs aamsg)
# shellcheck disable=SC2086 # the flags are words
cc -std=c11 -Wall -Wextra -Wpedantic -Wconversion -Werror examples/convert.c $flags -o "$check/convert"
LD_LIBRARY_PATH=$libdir "$check/convert" e samples/thank-you.wav "$check/c.msg" >/dev/null
cmp "$check/c.msg" "$expected"
echo "The packages install the tool, the library, its development files and the Python module: they give the expected bytes"
