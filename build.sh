#!/bin/sh
# One entry point for newcomers and CI (run as root on Debian 12):
#   ./build.sh run    install what is missing, build, start vkpanel on $DISPLAY
#   ./build.sh test   install what is missing, build, run the whole test suite,
#                     then build it again with the address and undefined-behaviour
#                     sanitizers (in build-asan/) and run it again there
# JOBS sets the number of parallel compile and test jobs (default: all cores).
set -eu
cd "$(dirname "$0")"
JOBS="${JOBS:-$(nproc)}"

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
    cmake --build build -j"$JOBS"
}

# The whole suite once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any report stops the test that made it and fails
# the run: undefined behaviour is not recovered from, a leak fails the process
# at exit. Leaks inside outside libraries are suppressed (tests/lsan.supp says
# which and why); nothing of the project's own code is.
sanitized_test() {
    san="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
    cmake --build build-asan -j"$JOBS"
    (
        cd build-asan
        ASAN_OPTIONS="detect_leaks=1:halt_on_error=1" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        LSAN_OPTIONS="suppressions=$(pwd)/../tests/lsan.supp:print_suppressions=0" \
            ctest --output-on-failure -j"$JOBS"
    )
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
    (cd build && ctest --output-on-failure -j"$JOBS")
    sanitized_test
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
