# Shared by scripts/run and scripts/test: installs what is missing and builds.
# Sourced, not run.

# Debian packages the program needs to build and run.
# qt6-wayland: the window on a Wayland desktop without Xwayland.
QUENBROOK_BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev libgl-dev qt6-wayland
  fonts-dejavu-core fonts-liberation2)
# What the tests need besides.
QUENBROOK_TEST_PACKAGES=(libgtest-dev googletest attr
  python3 xvfb xdotool imagemagick desktop-file-utils appstream dpkg-dev file groff-base
  libx11-dev weston lintian)
# The sanitizer and fuzzing runs (scripts/sanitize, scripts/fuzz) besides.
QUENBROOK_CHECK_PACKAGES=(clang libclang-rt-14-dev)

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QUENBROOK_BUILD_DIR:-$repo_root/build}

# Installs the named Debian packages that are not installed yet, without questions.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The game is a 32-bit Windows program: running it (and our 32-bit test programs) under
# Wine needs wine32 from Debian's i386 architecture, which wine64 alone does not bring.
# Adds the architecture and installs wine32 only when missing, and says so.
ensure_wine32() {
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture for wine32 (32-bit Windows programs under Wine)"
    "${sudo[@]}" dpkg --add-architecture i386
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  fi
  ensure_packages wine wine64 wine32:i386 "$@"
}

# Whether this machine runs 32-bit x86 programs at all. Some kernels are built or booted
# without IA-32 emulation (execve of an i386 program gives ENOEXEC); wine32, a 32-bit prefix
# and the 32-bit stand-in game cannot work there. Call after ensure_wine32.
can_run_32bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Configures (once) and builds the tree with two jobs; extra arguments go to cmake.
build() {
  local werror=OFF
  [ "${CI:-}" = true ] && werror=ON
  cmake -S "$repo_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUENBROOK_WERROR=$werror "$@" >/dev/null
  cmake --build "$build_dir" -j2
}
