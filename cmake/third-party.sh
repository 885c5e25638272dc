#!/usr/bin/env bash
# Builds the libraries `q` reads and resamples with, FFmpeg's and libsoxr, as static libraries
# for a target that Debian has no packages for (or for this machine, `native`, which Linux builds
# otherwise take from Debian's shared libraries), from Debian's own source packages:
#   cmake/third-party.sh mingw PREFIX   # Windows x86-64, with mingw-w64
#   cmake/third-party.sh wasm PREFIX    # WebAssembly, with emscripten
#   cmake/third-party.sh arm64 PREFIX   # Linux on 64-bit ARM, with g++-aarch64-linux-gnu
#   cmake/third-party.sh i386 PREFIX    # Linux on 32-bit x86, with g++-i686-linux-gnu
#   cmake/third-party.sh native PREFIX  # this machine (docs/speed.md: start-up without Debian's)
# FFmpeg (libavformat, libavcodec, libavutil and libswresample) is built under the LGPL alone,
# with exactly the demuxers, decoders and parsers that src/audio/ffmpeg_components.txt lists, no
# protocol and no program. The sources are fetched once into build-third-party/src through a
# private apt source list (deb-src of the machine's own suites), so the machine's configuration
# is not touched.
set -euo pipefail
target=$1
prefix=$(realpath -m "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build-third-party
jobs=$(nproc 2>/dev/null || echo 2)
packages="libsoxr ffmpeg"

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
  # Some mirrors lack an upstream tarball's detached signature, which fails the whole download;
  # the files that did come are unpacked one package at a time below.
  (cd "$work/src" && apt-get "${opts[@]}" source --download-only -qq "${missing[@]}" >"$work/src/fetch.log" 2>&1) || true
  for p in "${missing[@]}"; do unpack "$p"; done
}

# Unpacks a fetched source package. apt checked the .dsc against the signed index; its files
# are checked against the .dsc here, all but a signature, which nothing reads, and dpkg-source
# is told not to check again (it would refuse a missing signature).
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

# The library's licence texts go with it, into PREFIX/licences/SOURCE-VERSION/, and the Debian
# source package it was built from, name and version, onto a line of PREFIX/sources.txt.
keep_licence() {
  local to="$prefix/licences/$(basename "$1")"
  mkdir -p "$to"
  cp "${@:2}" "$to/"
  sed -n '1s/^\([^ ]*\) (\([0-9]*:\)\{0,1\}\([^)]*\)).*/\1 \3/p' "$1/debian/changelog" >>"$prefix/sources.txt"
}

# The flags a toolchain file gives every compilation for the target (AAMSG_TARGET_FLAGS), so
# that the libraries are compiled as aamsg is.
toolchain_flags() {
  [ -n "${toolchain:-}" ] || return 0
  sed -n 's/^set(AAMSG_TARGET_FLAGS "\(.*\)")$/\1/p' "$toolchain"
}

# libsoxr, with its CMake project.
build_soxr() {
  local dir out=$work/$target/libsoxr start=$SECONDS
  dir=$(source_dir libsoxr)
  rm -rf "$out" "$out.log"
  quietly "$out.log" "${cmake[@]}" -S "$dir" -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_EXAMPLES=OFF \
    -DCMAKE_C_FLAGS="$cflags"
  quietly "$out.log" cmake --build "$out" -j "$jobs"
  quietly "$out.log" cmake --install "$out"
  keep_licence "$dir" "$dir/COPYING.LGPL" "$dir/LICENCE"
  echo "built libsoxr for $target in $((SECONDS - start)) s"
}

# FFmpeg's libraries. Each component of the list becomes --enable-KIND=NAME after
# --disable-everything; the libraries, programs and external libraries nothing reads with are
# left out, and so is every protocol: the reader gives libavformat its own I/O. libswresample
# stays, for the Opus decoder's SILK layer. The decoders' tables (the MP3 and AAC decoders' powers
# and cube roots, the windows) are computed when building, on the build machine, rather than by
# the target's maths library when a decoder opens: MinGW's cbrt() gave AAC other samples than
# glibc's, and the build machine's glibc is Linux's.
build_ffmpeg() {
  local dir out=$work/$target/ffmpeg enable=() start=$SECONDS
  dir=$(source_dir ffmpeg)
  while read -r kind name; do
    enable+=("--enable-$kind=$name")
  done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$root/src/audio/ffmpeg_components.txt")
  rm -rf "$out" "$out.log" && mkdir -p "$out"
  (cd "$out" && quietly "$out.log" "${configure[@]}" "$dir/configure" --prefix="$prefix" \
    --enable-static --disable-shared --disable-debug --optflags=-O2 --extra-cflags="$cflags -ffp-contract=off" \
    --disable-autodetect --disable-everything --disable-programs --disable-doc --disable-network \
    --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc \
    --disable-pixelutils --enable-hardcoded-tables "${enable[@]}" "$@")
  echo "configured FFmpeg for $target in $((SECONDS - start)) s"
  # Every listed component must be in the build: configure drops one whose dependency is missing
  # without an error.
  local kind name
  while read -r kind name; do
    grep -q "^#define CONFIG_${name^^}_${kind^^} 1$" "$out/config_components.h" ||
      { echo "FFmpeg for $target was configured without the $kind $name" >&2; exit 1; }
  done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$root/src/audio/ffmpeg_components.txt")
  grep -q '^#define FFMPEG_LICENSE "LGPL version 2.1 or later"$' "$out/config.h" ||
    { echo "FFmpeg for $target is not under the LGPL 2.1" >&2; exit 1; }
  (cd "$out" && quietly "$out.log" make -j "$jobs" && quietly "$out.log" make install-libs install-headers)
  keep_licence "$dir" "$dir/COPYING.LGPLv2.1" "$dir/LICENSE.md"
  echo "built FFmpeg for $target in $((SECONDS - start)) s"
}

fetch
# What an earlier build installed goes first: a library or licence that this one no longer
# builds would otherwise stay in the prefix, and in the Windows package.
rm -rf "$prefix/.complete" "$prefix/sources.txt" "$prefix/licences" "$prefix/lib" "$prefix/include" "$prefix/share" "$prefix/doc"
mkdir -p "$prefix" "$work/$target"
# What the configure scripts see of the target: its own packages only, never the build machine's.
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
case $target in
  mingw)
    toolchain=$root/cmake/mingw-w64-x86_64.cmake
    cmake=(cmake -DCMAKE_TOOLCHAIN_FILE="$toolchain")
    configure=()
    cflags=$(toolchain_flags)
    # Windows' own threads: FFmpeg's one-time initialisations and its codec lock are safe when
    # two conversions read at once.
    ffmpeg_target=(--target-os=mingw32 --arch=x86_64 --enable-cross-compile --cross-prefix=x86_64-w64-mingw32-
                   --cc=x86_64-w64-mingw32-gcc-posix --enable-w32threads --disable-x86asm)
    ;;
  arm64)
    toolchain=$root/cmake/aarch64-linux-gnu.cmake
    cmake=(cmake -DCMAKE_TOOLCHAIN_FILE="$toolchain")
    configure=()
    cflags=$(toolchain_flags)
    # Position independent, for the shared libaamsg; NEON assembly needs no assembler but gcc's.
    ffmpeg_target=(--target-os=linux --arch=aarch64 --enable-cross-compile --cross-prefix=aarch64-linux-gnu-
                   --enable-pthreads --enable-pic)
    ;;
  i386)
    toolchain=$root/cmake/i686-linux-gnu.cmake
    cmake=(cmake -DCMAKE_TOOLCHAIN_FILE="$toolchain")
    configure=()
    cflags=$(toolchain_flags)
    ffmpeg_target=(--target-os=linux --arch=x86_32 --enable-cross-compile --cross-prefix=i686-linux-gnu-
                   --enable-pthreads --enable-pic --disable-x86asm)
    ;;
  native)
    toolchain=
    cmake=(cmake)
    configure=()
    cflags=-fPIC
    ffmpeg_target=(--enable-pthreads --enable-pic --disable-x86asm)
    ;;
  wasm)
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    # emcc checks its own installation, a second's work, at every call.
    export EMCC_SKIP_SANITY_CHECK=1
    toolchain=
    # emcmake's own emulator flag (--experimental-wasm-threads) stops node 20, and a failed run
    # reads as a type size (every check_type_size gave 9); node's fetch cannot read the .wasm
    # from disk.
    cmake=(emcmake cmake "-DCMAKE_CROSSCOMPILING_EMULATOR=$(command -v node);--no-experimental-fetch")
    configure=()
    # Compiled for shared memory (atomics, bulk memory), these objects link into the page's
    # threaded module and into its unthreaded one alike; the unthreaded one runs pthread_once
    # and the locks single-threaded.
    cflags=-pthread
    # emcc spends a second of Python before it runs clang, for every file and every one of
    # configure's checks: FFmpeg is compiled by that clang with emcc's flags, and emcc only links
    # configure's test programs. WebAssembly has no x86 or ARM code: FFmpeg's portable C, for an
    # architecture it does not know.
    echo 'int probe;' >"$work/$target/probe.c"
    clang=$(emcc -v -c "$work/$target/probe.c" -o "$work/$target/probe.o" 2>&1 | sed -n 's/^ *"\([^"]*clang[^"]*\)" .*/\1/p' | head -1)
    [ -n "$clang" ] || { echo "emcc runs no clang that this script recognises" >&2; exit 1; }
    ffmpeg_target=(--target-os=none --arch=wasm32 --enable-cross-compile --cc="$clang" --extra-cflags="$(emcc $cflags --cflags)"
                   --ld=emcc --ar=emar --ranlib=emranlib --nm=emnm --disable-asm --disable-stripping --enable-pthreads
                   --extra-ldflags=-pthread)
    ;;
  *) echo "unknown target: $target" >&2; exit 2 ;;
esac
build_soxr
build_ffmpeg "${ffmpeg_target[@]}"
if [ "$target" = wasm ]; then
  # The unthreaded module would leave thread-local variables without their initial values: the
  # threaded runtime sets them up.
  if emnm "$prefix"/lib/*.a 2>/dev/null | grep -q ' U __tls_base$'; then
    echo "a library for $target uses thread-local storage" >&2; exit 1
  fi
  # Whether a module runs threads is its own link's choice, not the libraries'.
  sed -i 's/ -pthread\b//g' "$prefix"/lib/pkgconfig/*.pc
fi
touch "$prefix/.complete"
