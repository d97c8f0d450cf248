#!/bin/sh
# Builds the Debian package dist/lumora_VERSION_ARCH.deb: a Release build of
# the two programs in build/package (no tests, no benchmarks), packed by CPack
# with the run-time dependencies dpkg-shlibdeps finds in the binaries.
#   scripts/package.sh
# Install it with: apt install ./dist/lumora_*.deb
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh package
# Debian's flags: -O2 and the hardening (stack protector, fortify, relro);
# Release adds only NDEBUG, not its own -O3.
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DLUMORA_GUI=ON -DLUMORA_TESTS=OFF -DLUMORA_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build/package -j2
rm -f build/package/lumora_*.deb
(cd build/package && cpack -G DEB >/dev/null)
mkdir -p dist
rm -f dist/lumora_*.deb
cp build/package/lumora_*.deb dist/
ls dist/lumora_*.deb
