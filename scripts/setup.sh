# Shared by scripts/demo and scripts/test: install what is missing, configure and build.
# Usage: source scripts/setup.sh; korvex_setup <extra Debian packages...>
set -euo pipefail

KORVEX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The compiler (KORVEX_COMPILER): gcc, the default, builds in build/; clang builds with clang++
# and its OpenMP runtime in build-clang/, so that both builds can stand side by side.
KORVEX_COMPILER="${KORVEX_COMPILER:-gcc}"
KORVEX_COMPILER_PACKAGES=()
KORVEX_CMAKE_ENV=()
case "$KORVEX_COMPILER" in
    gcc | g++) KORVEX_BUILD="${KORVEX_BUILD:-$KORVEX_ROOT/build}" ;;
    clang | clang++)
        KORVEX_BUILD="${KORVEX_BUILD:-$KORVEX_ROOT/build-clang}"
        KORVEX_COMPILER_PACKAGES=(clang libomp-dev)
        KORVEX_CMAKE_ENV=(CXX=clang++) # read when the folder is first configured
        ;;
    *)
        echo "unknown compiler \"$KORVEX_COMPILER\" (gcc or clang)" >&2
        exit 2
        ;;
esac

# Packages every build needs.
KORVEX_BUILD_PACKAGES=(build-essential cmake pkg-config giza-dev libcpgplot0 libgiza0 libx11-dev libgif-dev
                       libpng-dev libtiff-dev libgtest-dev libbenchmark-dev libeigen3-dev
                       fonts-dejavu-core
                       libopenmpi-dev openmpi-bin libhdf5-dev
                       python3-dev pybind11-dev python3-numpy python3-h5py python3-matplotlib)

korvex_install() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

korvex_setup() {
    korvex_install "${KORVEX_BUILD_PACKAGES[@]}" "${KORVEX_COMPILER_PACKAGES[@]}" "$@"
    local jobs
    jobs="$(nproc 2>/dev/null || echo 2)"
    env "${KORVEX_CMAKE_ENV[@]}" cmake -S "$KORVEX_ROOT" -B "$KORVEX_BUILD" \
        -DCMAKE_BUILD_TYPE=Release -DKORVEX_WERROR=ON
    cmake --build "$KORVEX_BUILD" -j "$jobs"
}
