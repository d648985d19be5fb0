#!/usr/bin/env bash
# Sets up a Debian 12 machine for Vantrel and builds, runs or tests it.
#   tools/dev.sh run    packages, build, a demo register in demo/, then the program
#   tools/dev.sh test   packages, build, every test
#   tools/dev.sh asan   the tests again in a build with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ qt6-base-dev qt6-svg-dev libsqlite3-dev fonts-ebgaramond xvfb xauth)

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() { # build folder, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
    cmake --build "$dir"
}

run_tests() { # build folder
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$1" --output-on-failure -j "$(nproc)"
}

case "${1:-}" in
run)
    install_packages
    build build
    mkdir -p demo
    [ -f demo/vnrdata.mdb ] || build/tools/vnrdb create demo/vnrdata.mdb --demo 500
    cd demo
    exec ../build/app/vantrel
    ;;
test)
    install_packages
    build build
    run_tests build
    ;;
asan)
    install_packages
    build build-asan -DVANTREL_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp" run_tests build-asan
    ;;
*)
    echo "usage: tools/dev.sh run|test|asan" >&2
    exit 2
    ;;
esac
