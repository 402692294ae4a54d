# shellcheck shell=bash
# Shared steps of the build scripts: packages, build variants, test runs.

# Installs the Debian packages that are missing; as a normal user, prints the command.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# variant_packages VARIANT: the Debian packages that building and testing it needs.
# busybox-static is Debian's busybox with telnetd, for the device's telnet daemons.
variant_packages() {
    case "$1" in
        ppc) echo cmake ninja-build g++-powerpc-linux-gnu googletest qemu-user ;;
        # libFuzzer comes with clang's runtime libraries.
        fuzz) echo cmake ninja-build clang-14 libclang-rt-14-dev ;;
        *) echo cmake ninja-build g++ libgtest-dev libgmock-dev busybox-static ;;
    esac
}

# build_dir VARIANT: where that variant is built: build/ and build-VARIANT/, or with
# VELA_BUILD_PREFIX=DIR, DIR and DIR-VARIANT.
build_dir() {
    local prefix=${VELA_BUILD_PREFIX:-$root/build}
    case "$1" in
        default) echo "$prefix" ;;
        *) echo "$prefix-$1" ;;
    esac
}

# configure_and_build VARIANT [TARGET...]: everything, or only the targets named.
configure_and_build() {
    local variant=$1 dir flags=() source=$root targets=()
    shift
    for t in "$@"; do targets+=(--target "$t"); done
    dir=$(build_dir "$variant")
    case "$variant" in
        default) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
        asan) flags=(-DCMAKE_BUILD_TYPE=Debug "-DVELA_SANITIZE=address,undefined") ;;
        # 32-bit big-endian PowerPC, the device's processor; tests run under qemu-ppc.
        ppc) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                    "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-powerpc-linux-gnu.cmake") ;;
        tsan) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELA_SANITIZE=thread) ;;
        # The fuzz targets (fuzz/), a project of their own built with clang.
        fuzz) source=$root/fuzz
              flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14
                     -DCMAKE_CXX_COMPILER=clang++-14) ;;
        *) echo "unknown variant $variant" >&2; exit 2 ;;
    esac
    cmake -S "$source" -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}

run_tests() {
    local variant=$1 dir; shift
    dir=$(build_dir "$variant")
    export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    # Every process of the shell (also inside the simulated device, which sees this
    # directory) writes its reports to a file; any report fails the run.
    local reports="$dir/tsan-reports"
    rm -rf "$reports" && mkdir -p "$reports"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/report"
    local filter=()
    # qemu-user cannot follow a test into the target programs it starts (the device,
    # the editor's pty driver): those tests are labelled host-only (cmake/VelaTesting.cmake).
    if [ "$variant" = ppc ]; then filter=(-LE host-only); fi
    # A program built against the installed package would need the sanitizer's runtime.
    if [ "$variant" = asan ] || [ "$variant" = tsan ]; then filter=(-LE install); fi
    # Most end-to-end cases wait on sockets and terminals, so run more than one per core.
    local status=0
    ctest --test-dir "$dir" --output-on-failure -j "$(( $(nproc) * 2 ))" \
        "${filter[@]}" "$@" || status=$?
    if [ -n "$(ls -A "$reports")" ]; then
        echo "ThreadSanitizer reports:" >&2
        cat "$reports"/* >&2
        status=1
    fi
    return $status
}
