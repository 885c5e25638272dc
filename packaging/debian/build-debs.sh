#!/bin/sh
# Makes the Debian packages from a build configured with the prefix /usr, the way debhelper
# would: each package's install component in its tree, its copyright and changelog, then the
# control files from dpkg's own tools (dpkg-shlibdeps, dpkg-gensymbols, dpkg-gencontrol), then
# dpkg-deb. Runs in <build>/deb, where CMake wrote debian/control and debian/changelog. Every
# time stamp is the changelog's, so the same sources give the same packages.
#
# usage: build-debs.sh BUILD_DIR SOURCE_DIR   (the .debs are written to BUILD_DIR)
set -eu
build=$1
source=$2
umask 022
export LC_ALL=C
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l debian/changelog -STimestamp)
export SOURCE_DATE_EPOCH
version=$(dpkg-parsechangelog -l debian/changelog -SVersion)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# package:component pairs, the library first: the others' dependencies are read from it.
packages="libaamsg0:library aamsg:tool libaamsg-dev:development python3-aamsg:python"

rm -rf debian/files debian/*.substvars
for entry in $packages; do
    package=${entry%%:*}
    rm -rf "debian/$package"
    DESTDIR="$PWD/debian/$package" cmake --install "$build" --component "${entry#*:}" --strip >/dev/null
    doc="debian/$package/usr/share/doc/$package"
    mkdir -p "$doc" "debian/$package/DEBIAN"
    cp "$source/packaging/debian/copyright" "$doc/copyright"
    gzip -9n <debian/changelog >"$doc/changelog.gz"
done

# What dh_strip leaves out too: the compiler's notes, and the debugging sections of the archive's
# objects (cmake --install --strip strips the programs and shared libraries only).
find debian -type f \( -name '*.so.*' -o -path '*/bin/*' \) -exec strip --remove-section=.comment --remove-section=.note {} +
find debian -type f -name '*.a' -exec strip --strip-debug --remove-section=.comment --remove-section=.note \
    --enable-deterministic-archives {} +

# The library: its symbols checked against the list of every exported symbol and the version it
# appeared in (any difference fails: a new function must be added there), the shlibs for
# programs built against it, and the trigger that updates the loader's cache.
library=debian/libaamsg0
dpkg-gensymbols -plibaamsg0 -P"$library" -I"$source/packaging/debian/libaamsg0.symbols" -c4 -O"$library/DEBIAN/symbols"
newest=$(sed -n 's/^ [^ ]* \([^ ]*\)$/\1/p' "$library/DEBIAN/symbols" | sort -V | tail -n 1)
echo "libaamsg 0 libaamsg0 (>= $newest)" >"$library/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$library/DEBIAN/triggers"
dpkg-shlibdeps -Tdebian/libaamsg0.substvars "$library/usr/lib/$multiarch"/libaamsg.so.*.*
dpkg-shlibdeps -Tdebian/aamsg.substvars -S"$PWD/$library" -l"$library/usr/lib/$multiarch" debian/aamsg/usr/bin/aamsg

for entry in $packages; do
    package=${entry%%:*}
    tree="debian/$package"
    substvars=debian/$package.substvars
    [ -f "$substvars" ] || : >"$substvars"
    dpkg-gencontrol -p"$package" -P"$tree" -T"$substvars"
    (cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\n' | sort | xargs -r md5sum) >"$tree/DEBIAN/md5sums"
    find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    dpkg-deb --root-owner-group -Zxz --build "$tree" "$build" >/dev/null
done
rm -f debian/files
echo "Debian packages of aamsg $version in $build"
