#!/usr/bin/env bash
# Fetches whisper.cpp and its ggml (MIT) as carried by the npm package
# whisper.rn (MIT), checks the tarball against its published digest, and builds
# the CPU-only static library into .deps/whisper once per checkout. Sondra's
# whisper engine is built only when that library is there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"
version=0.7.4
tarball="whisper.rn-$version.tgz"
# The registry's integrity value (sha512), in hex.
sha512=f4cc961684665161c31cb8639b8759819cf11b67c536e0a538f13f35ee4a5e59b4bd28b822de684b6c598bd59f3c47d41877203cc895be2bfdb75f330b805237
prefix="$deps/whisper"
recipe="$root/native/third_party/whisper/CMakeLists.txt"
# A changed recipe or version builds the library again.
stamp="$version $(sha256sum "$recipe" | cut -d' ' -f1)"

if [[ -f "$prefix/lib/libwhisper.a" && "$(cat "$prefix/stamp" 2>/dev/null)" == "$stamp" ]]; then
  exit 0
fi

mkdir -p "$deps"
if ! echo "$sha512  $deps/$tarball" | sha512sum --check --status 2>/dev/null; then
  echo "whisper: fetching whisper.rn@$version"
  rm -f "$deps/$tarball"
  (cd "$deps" && npm pack --silent "whisper.rn@$version" >/dev/null)
  if ! echo "$sha512  $deps/$tarball" | sha512sum --check --status; then
    rm -f "$deps/$tarball"
    echo "whisper: $tarball does not match its published digest" >&2
    exit 1
  fi
fi

src="$deps/whisper-src"
rm -rf "$src" "$deps/whisper-build" "$prefix"
mkdir -p "$src"
tar -xzf "$deps/$tarball" -C "$src" package/cpp

echo "whisper: building the library (a few minutes, once per checkout)"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root/native/third_party/whisper" -B "$deps/whisper-build" -DCMAKE_BUILD_TYPE=Release \
  -DWHISPER_SOURCE_DIR="$src/package/cpp" -DCMAKE_INSTALL_PREFIX="$prefix" "${launcher[@]}" >/dev/null
cmake --build "$deps/whisper-build" -j "$(nproc)"
cmake --install "$deps/whisper-build" >/dev/null
echo "$stamp" >"$prefix/stamp"
