#!/usr/bin/env bash
# Cross-builds the Windows program and its test programs on Debian with mingw-w64:
# build-windows/sheetbuilder.exe, one self-contained file (libstdc++, libgcc, winpthread,
# libpng and zlib linked in), and build-windows/test_*.exe, run by tools/test-windows.sh.
# Installs what is missing (mingw-w64, wine, the googletest sources, dpkg-dev), then builds
# zlib and libpng from Debian's own source packages and googletest from its source package
# into build-windows/third-party, where later runs find them ready.
# Usage: bash tools/build-windows.sh        (JOBS=n for parallel jobs, default 2)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/build-windows
third=$out/third-party
prefix=$third/prefix
jobs=${JOBS:-2}
toolchain=$root/tools/mingw-w64.cmake
host=x86_64-w64-mingw32

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi

# --- what the build needs from Debian ---------------------------------------------------
packages=(
  cmake make pkg-config dpkg-dev
  mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
  wine wine64 googletest nlohmann-json3-dev xvfb xdotool
)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi

# Source packages come from the same archives as the machine's binary packages: a deb-src
# entry is made from each enabled deb entry, once.
enable_source_packages() {
  if apt-cache showsrc zlib 2>/dev/null | grep -q '^Package:'; then return; fi
  local list=/etc/apt/sources.list.d/sheetbuilder-deb-src
  local made=0
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    # deb822 entries: the same stanzas with Types: deb-src.
    cat /etc/apt/sources.list.d/*.sources |
      sed -E 's/^Types:.*/Types: deb-src/' | $sudo tee "$list.sources" >/dev/null
    made=1
  fi
  local lines
  lines=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
          grep -E '^deb ' | sed -E 's/^deb /deb-src /' || true)
  if [ -n "$lines" ]; then
    printf '%s\n' "$lines" | $sudo tee "$list.list" >/dev/null
    made=1
  fi
  [ "$made" -eq 1 ] || { echo "no apt sources to take source packages from" >&2; exit 1; }
  $sudo apt-get update -qq
}

# Unpacks Debian's source of a package into $third/src/<package>; prints the folder.
debian_source() {
  local package=$1
  mkdir -p "$third/src"
  local folder
  folder=$(find "$third/src" -maxdepth 1 -type d -name "$package-*" | head -n 1)
  if [ -z "$folder" ]; then
    enable_source_packages
    # Note: an update archive may list a source it no longer serves; the release's own
    # version is then taken.
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    (cd "$third/src" && { apt-get source -qq "$package" >/dev/null 2>&1 ||
       { [ -n "$codename" ] && apt-get source -qq "$package/$codename" >/dev/null 2>&1; }; } ||
       { echo "apt-get source $package failed" >&2; exit 1; })
    folder=$(find "$third/src" -maxdepth 1 -type d -name "$package-*" | head -n 1)
  fi
  echo "$folder"
}

mkdir -p "$prefix/include" "$prefix/lib"

# --- zlib -----------------------------------------------------------------------------
if [ ! -f "$prefix/lib/libz.a" ]; then
  echo "Building zlib for Windows"
  zlib=$(debian_source zlib)
  # Note: Debian's source has no Windows makefile; the library is its C files.
  objects=$third/build-zlib
  mkdir -p "$objects"
  for name in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast \
              inflate inftrees trees uncompr zutil; do
    $host-gcc-posix -O2 -c "$zlib/$name.c" -o "$objects/$name.o"
  done
  $host-ar rcs "$prefix/lib/libz.a" "$objects"/*.o
  cp "$zlib/zlib.h" "$zlib/zconf.h" "$prefix/include/"
fi

# --- libpng ---------------------------------------------------------------------------
if [ ! -f "$prefix/lib/libpng16.a" ] && [ ! -f "$prefix/lib/libpng.a" ]; then
  echo "Building libpng for Windows"
  libpng=$(debian_source libpng1.6)
  cmake -S "$libpng" -B "$third/build-libpng" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON >/dev/null
  cmake --build "$third/build-libpng" -j "$jobs" >/dev/null
  cmake --install "$third/build-libpng" >/dev/null
fi

# --- googletest -----------------------------------------------------------------------
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "Building googletest for Windows"
  cmake -S /usr/src/googletest -B "$third/build-googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF \
    -Dgtest_force_shared_crt=ON >/dev/null
  cmake --build "$third/build-googletest" -j "$jobs" >/dev/null
  cmake --install "$third/build-googletest" >/dev/null
fi

# --- the program and its tests --------------------------------------------------------
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Header-only libraries are the host's: the same headers serve both builds.
cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$host" \
  -DPNG_LIBRARY="$prefix/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$prefix/include" \
  -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
  -DGTest_DIR="$prefix/lib/cmake/GTest" \
  -Dnlohmann_json_DIR=/usr/share/cmake/nlohmann_json \
  -DSHEETBUILDER_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build "$out" -j "$jobs"

# Only Windows' own DLLs may be imported: nothing from the compiler or the libraries.
imports=$($host-objdump -p "$out/sheetbuilder.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
foreign=$(printf '%s\n' "$imports" | grep -viE '^(kernel32|user32|gdi32|opengl32|winmm|comdlg32|shell32|ole32|oleaut32|advapi32|bcrypt|msvcrt|ws2_32|api-ms-win-[a-z0-9-]+)\.dll$' || true)
if [ -n "$foreign" ]; then
  echo "sheetbuilder.exe needs DLLs that Windows does not have: $foreign" >&2
  exit 1
fi
echo "Built $out/sheetbuilder.exe (imports: $(printf '%s ' $imports))"
