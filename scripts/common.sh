# Shared by scripts/test and scripts/run: package installation and CMake configuration.
# Sourced, not run.

KELVARA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVARA_JOBS=${KELVARA_JOBS:-$(nproc)}

# Packages the program needs to build and run.
KELVARA_BUILD_PACKAGES="build-essential cmake ninja-build libfmt-dev libcli11-dev qt6-base-dev
    libgl-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth libqt6svg6 fonts-liberation"
# Packages only the tests need: the sanitizer build, the Windows cross build and the
# independent implementations the tests compare against.
KELVARA_TEST_PACKAGES="clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 pxlib-dev pkg-config fp-compiler fp-units-rtl"

kelvara_note() { printf '== %s\n' "$*"; }

# kelvara_ensure_packages PKG...: installs what is missing, with one apt-get update at most.
kelvara_ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    kelvara_note "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null || return 1
}

# kelvara_configure BUILD_DIR CMAKE_ARGS...: configures once; later runs rebuild incrementally.
kelvara_configure() {
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$KELVARA_ROOT" -B "$dir" -G Ninja "$@" >/dev/null || return 1
    fi
}

kelvara_build() {
    local dir=$1
    shift
    cmake --build "$dir" -j "$KELVARA_JOBS" "$@"
}
