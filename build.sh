#!/bin/sh
# One entry point for newcomers and CI (run as root on Debian 12):
#   ./build.sh run    install what is missing, build, start vkpanel on $DISPLAY
#   ./build.sh test   install what is missing, build, run the whole test suite
set -eu
cd "$(dirname "$0")"

PACKAGES="cmake g++ make qt6-base-dev qt6-base-dev-tools libgl-dev
 xvfb xauth xterm fonts-wqy-microhei fonts-dejavu-core fdisk util-linux xfsprogs pciutils ethtool kmod iproute2
 clang libclang-rt-14-dev locales x11-utils xdotool libx11-dev"

install_packages() {
    missing=""
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "installing:$missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        # shellcheck disable=SC2086
        apt-get install -y -qq $missing
    fi
}

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
}

case "${1:-}" in
run)
    install_packages
    build
    if [ ! -x build/console/vkpanel ]; then
        echo "vkpanel is not built yet."
        exit 1
    fi
    exec build/console/vkpanel
    ;;
test)
    install_packages
    build
    cd build && ctest --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
