#!/usr/bin/env bash
# Builds the libraries `q` needs (libsoxr, and libsndfile with libogg, libFLAC, libvorbis,
# libopus, libmpg123 and libmp3lame: every format Debian's libsndfile reads) as static libraries
# for a target that Debian has no packages for, from Debian's own source packages:
#   cmake/third-party.sh mingw PREFIX   # Windows x86-64, with mingw-w64
#   cmake/third-party.sh wasm PREFIX    # WebAssembly, with emscripten
# The sources are fetched once into build-third-party/src through a private apt source list
# (deb-src of the machine's own suites), so the machine's configuration is not touched.
set -euo pipefail
target=$1
prefix=$(realpath -m "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build-third-party
jobs=$(nproc 2>/dev/null || echo 2)
packages="libsoxr libsndfile libogg flac libvorbis opus mpg123 lame"

fetch() {
  local missing=() p
  for p in $packages; do [ -n "$(source_dir "$p")" ] || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return
  mkdir -p "$work/apt/sources.d" "$work/apt/lists/partial" "$work/src"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && sed 's/^Types: deb$/Types: deb-src/' "$f" >"$work/apt/sources.d/$(basename "$f")"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$work/apt/sources.d/main.list"
  fi
  local opts=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$work/apt/sources.d"
              -o "Dir::State::Lists=$work/apt/lists" -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq
  # Some mirrors lack an upstream tarball's detached signature (mpg123's .asc), which fails the
  # whole download; the files that did come are unpacked one package at a time below.
  (cd "$work/src" && apt-get "${opts[@]}" source --download-only -qq "${missing[@]}" >"$work/src/fetch.log" 2>&1) || true
  for p in "${missing[@]}"; do unpack "$p"; done
}

# Unpacks a fetched source package. apt checked the .dsc against the signed index; its files
# are checked against the .dsc here, all but a signature, which nothing reads, and dpkg-source
# is told not to check again (it would refuse the missing signature).
unpack() {
  local dsc
  dsc=$(find "$work/src" -maxdepth 1 -name "$1_*.dsc" | head -1)
  [ -n "$dsc" ] || { cat "$work/src/fetch.log" >&2; echo "could not fetch $1" >&2; exit 1; }
  (cd "$work/src" && sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ //p' "$dsc" |
    awk '$3 !~ /\.asc$/ { print $1 "  " $3 }' | sha256sum --quiet --strict -c -) ||
    { echo "$1's source does not match its .dsc" >&2; exit 1; }
  (cd "$work/src" && dpkg-source --no-check -x "$(basename "$dsc")" >/dev/null)
  [ -n "$(source_dir "$1")" ] || { echo "could not unpack $1" >&2; exit 1; }
}

source_dir() { find "$work/src" -maxdepth 1 -type d -name "$1-[0-9]*" | head -1; }

# Runs a step with its output in a log, shown only if the step fails.
quietly() {
  local log=$1; shift
  "$@" >>"$log" 2>&1 || { tail -40 "$log" >&2; echo "failed: $*" >&2; return 1; }
}

# The library's licence texts go with it, into PREFIX/licences/SOURCE-VERSION/.
keep_licence() {
  local to="$prefix/licences/$(basename "$2")"
  mkdir -p "$to"
  for f in COPYING COPYING.LGPL COPYING.Xiph LICENCE LICENSE AUTHORS; do
    [ -f "$2/$f" ] && cp "$2/$f" "$to/"
  done
  return 0
}

# Configures, builds and installs one source tree into the prefix; NAME/DIR builds the CMake
# project in DIR of NAME's source.
build() {
  local name=${1%%/*}
  local sub=${1#"$name"}
  shift
  local dir
  dir=$(source_dir "$name")
  local out="$work/$target/$name"
  rm -rf "$out" "$out.log"
  # Only the prefix's own packages are found: never the build machine's.
  quietly "$out.log" env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH="" \
    "${configure[@]}" -S "$dir$sub" -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${search[@]}" "$@"
  quietly "$out.log" cmake --build "$out" -j "$jobs"
  quietly "$out.log" cmake --install "$out"
  keep_licence "$name" "$dir"
  echo "built $name for $target"
}

# The same for a source tree that builds with its configure script (opus 1.3.1's CMake files
# are incomplete in its release; lame has none).
build_configure() {
  local name=$1; shift
  local dir
  dir=$(source_dir "$name")
  local out="$work/$target/$name"
  rm -rf "$out" "$out.log" && mkdir -p "$out"
  (cd "$out" && quietly "$out.log" env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH="" \
    "${configure_script[@]}" "$dir/configure" --prefix="$prefix" --host="$host" --disable-shared --enable-static "$@" &&
    quietly "$out.log" make -j "$jobs" && quietly "$out.log" make install)
  keep_licence "$name" "$dir"
  echo "built $name for $target"
}

fetch
rm -f "$prefix/.complete"
mkdir -p "$prefix" "$work/$target"
case $target in
  mingw)
    configure=(cmake -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake")
    configure_script=()
    host=x86_64-w64-mingw32
    # The toolchain searches only below its roots; the prefix becomes one of them.
    search=("-DCMAKE_FIND_ROOT_PATH=$prefix;/usr/x86_64-w64-mingw32" -DCMAKE_PREFIX_PATH=/)
    # FLAC's headers declare its functions as imported from a DLL unless told it is static.
    sndfile_flags=-DFLAC__NO_DLL
    opus_flags=()
    # mpg123's CMake build leaves its libraries out of libmpg123.pc; on Windows it needs one.
    mpg123_flags=(-DLIBMPG123_LIBS=-lshlwapi)
    ;;
  wasm)
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    # emcmake's own emulator flag (--experimental-wasm-threads) stops node 20, and a failed run
    # reads as a type size (every check_type_size gave 9); node's fetch cannot read the .wasm
    # from disk.
    configure=(emcmake cmake "-DCMAKE_CROSSCOMPILING_EMULATOR=$(command -v node);--no-experimental-fetch")
    configure_script=(emconfigure)
    # Known to the configure scripts' older config.sub, unlike wasm32-unknown-emscripten.
    host=wasm32-unknown-none
    search=("-DCMAKE_FIND_ROOT_PATH=$prefix" -DCMAKE_PREFIX_PATH=/)
    sndfile_flags=
    # WebAssembly has no x86 or ARM code to detect or assemble.
    opus_flags=(--disable-asm --disable-rtcd --disable-intrinsics)
    mpg123_flags=()
    ;;
  *) echo "unknown target: $target" >&2; exit 2 ;;
esac
build libogg -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
build flac -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF \
  -DINSTALL_MANPAGES=OFF -DBUILD_CXXLIBS=OFF -DWITH_STACK_PROTECTOR=OFF
build libvorbis
build_configure opus --disable-doc --disable-extra-programs --disable-stack-protector --disable-hardening "${opus_flags[@]}"
# mpg123's portable CMake project: its generic C decoder where it knows no assembly (WebAssembly).
# It takes check_type_size from TestBigEndian, whose emscripten replacement does not include it.
echo 'include(CheckTypeSize)' >"$work/$target/check-type-size.cmake"
build mpg123/ports/cmake -DBUILD_LIBOUT123=OFF -DBUILD_PROGRAMS=OFF -DNETWORK=OFF \
  -DCMAKE_PROJECT_INCLUDE="$work/$target/check-type-size.cmake" "${mpg123_flags[@]}"
# libsndfile only ever encodes MP3 with lame, and reads it with mpg123.
build_configure lame --disable-frontend --disable-decoder --disable-analyzer-hooks --disable-gtktest
build libsndfile -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_EXTERNAL_LIBS=ON \
  -DENABLE_MPEG=ON -DINSTALL_MANPAGES=OFF -DENABLE_CPACK=OFF -DINSTALL_PKGCONFIG_MODULE=ON \
  -DCMAKE_C_FLAGS="$sndfile_flags"
# libsndfile leaves out a codec whose library it does not find, without an error.
for needed in flac vorbisenc opus libmpg123 -lmp3lame; do
  grep -q -e "$needed" "$prefix/lib/pkgconfig/sndfile.pc" || { echo "libsndfile was built without $needed" >&2; exit 1; }
done
build libsoxr -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_EXAMPLES=OFF
touch "$prefix/.complete"
