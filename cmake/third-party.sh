#!/usr/bin/env bash
# Builds the libraries `q` needs (libsoxr, and libsndfile with libogg, libFLAC, libvorbis and
# libopus) as static libraries for a target that Debian has no packages for, from Debian's own
# source packages:
#   cmake/third-party.sh mingw PREFIX   # Windows x86-64, with mingw-w64
#   cmake/third-party.sh wasm PREFIX    # WebAssembly, with emscripten (libsoxr, and libsndfile
#                                       # without external codecs: the browser decodes those)
# The sources are fetched once into build-third-party/src through a private apt source list
# (deb-src of the machine's own suites), so the machine's configuration is not touched.
set -euo pipefail
target=$1
prefix=$(realpath -m "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build-third-party
jobs=$(nproc 2>/dev/null || echo 2)
packages="libsoxr libsndfile libogg flac libvorbis opus"

fetch() {
  [ -f "$work/src/.fetched" ] && return
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
  (cd "$work/src" && apt-get "${opts[@]}" source -qq $packages 2>&1 | grep -v '^dpkg-source: info' || true)
  for p in $packages; do [ -n "$(source_dir "$p")" ] || { echo "could not fetch $p" >&2; exit 1; }; done
  touch "$work/src/.fetched"
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

# Configures, builds and installs one source tree into the prefix.
build() {
  local name=$1; shift
  local dir
  dir=$(source_dir "$name")
  local out="$work/$target/$name"
  rm -rf "$out" "$out.log"
  # Only the prefix's own packages are found: never the build machine's.
  quietly "$out.log" env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH="" \
    "${configure[@]}" -S "$dir" -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${search[@]}" "$@"
  quietly "$out.log" cmake --build "$out" -j "$jobs"
  quietly "$out.log" cmake --install "$out"
  keep_licence "$name" "$dir"
  echo "built $name for $target"
}

# The same for a source tree that builds with its configure script (opus 1.3.1's CMake files
# are incomplete in its release).
build_configure() {
  local name=$1; shift
  local dir
  dir=$(source_dir "$name")
  local out="$work/$target/$name"
  rm -rf "$out" "$out.log" && mkdir -p "$out"
  (cd "$out" && quietly "$out.log" env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH="" \
    "$dir/configure" --prefix="$prefix" --disable-shared --enable-static "$@" &&
    quietly "$out.log" make -j "$jobs" && quietly "$out.log" make install)
  keep_licence "$name" "$dir"
  echo "built $name for $target"
}

fetch
mkdir -p "$prefix" "$work/$target"
case $target in
  mingw)
    configure=(cmake -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake")
    # The toolchain searches only below its roots; the prefix becomes one of them.
    search=("-DCMAKE_FIND_ROOT_PATH=$prefix;/usr/x86_64-w64-mingw32" -DCMAKE_PREFIX_PATH=/)
    build libogg -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
    build flac -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF \
      -DINSTALL_MANPAGES=OFF -DBUILD_CXXLIBS=OFF -DWITH_STACK_PROTECTOR=OFF
    build libvorbis
    build_configure opus --host=x86_64-w64-mingw32 --disable-doc --disable-extra-programs --disable-stack-protector --disable-hardening
    # FLAC's headers declare its functions as imported from a DLL unless told it is static.
    build libsndfile -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_EXTERNAL_LIBS=ON \
      -DENABLE_MPEG=OFF -DINSTALL_MANPAGES=OFF -DENABLE_CPACK=OFF -DINSTALL_PKGCONFIG_MODULE=ON \
      -DCMAKE_C_FLAGS=-DFLAC__NO_DLL
    ;;
  wasm)
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    configure=(emcmake cmake)
    search=("-DCMAKE_FIND_ROOT_PATH=$prefix" -DCMAKE_PREFIX_PATH=/)
    build libsndfile -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_EXTERNAL_LIBS=OFF \
      -DENABLE_MPEG=OFF -DINSTALL_MANPAGES=OFF -DENABLE_CPACK=OFF -DINSTALL_PKGCONFIG_MODULE=ON
    ;;
  *) echo "unknown target: $target" >&2; exit 2 ;;
esac
build libsoxr -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_EXAMPLES=OFF
touch "$prefix/.complete"
