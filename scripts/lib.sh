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
        ppc) echo cmake ninja-build g++-powerpc-linux-gnu googletest qemu-user-static \
                  busybox-static ;;
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
    # More cache settings for this configure, e.g. VELA_CMAKE_ARGS="-DVELA_BUILD_TESTS=OFF".
    local extra=()
    read -ra extra <<<"${VELA_CMAKE_ARGS:-}"
    cmake -S "$source" -B "$dir" -G Ninja "${flags[@]}" "${extra[@]}" >/dev/null
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}

# The kernel's table of interpreters, and qemu's entry there for 32-bit big-endian PowerPC.
binfmt_dir=/proc/sys/fs/binfmt_misc
ppc_binfmt_entry=$binfmt_dir/qemu-ppc

# register_ppc_emulation: registers qemu-ppc in binfmt_misc, so that every PowerPC
# program any process starts runs under it, also inside the simulated device's
# namespaces; the registration is removed when the script ends, an existing one is used
# and left alone. Returns 1, saying why, when it cannot (not root, no binfmt_misc).
register_ppc_emulation() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "Not root: cannot register qemu-ppc in binfmt_misc." >&2
        return 1
    fi
    if [ ! -e "$binfmt_dir/register" ] &&
        ! mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null; then
        echo "binfmt_misc cannot be mounted on $binfmt_dir: cannot register qemu-ppc." >&2
        return 1
    fi
    # Where Debian's qemu looks for the target's libraries.
    if [ ! -e /etc/qemu-binfmt/ppc ]; then
        mkdir -p /etc/qemu-binfmt && ln -s /usr/powerpc-linux-gnu /etc/qemu-binfmt/ppc
    fi
    if [ -e "$ppc_binfmt_entry" ]; then
        head -n 1 "$ppc_binfmt_entry" | grep -qx enabled && return 0
        echo "qemu-ppc is registered in binfmt_misc but disabled." >&2
        return 1
    fi
    # qemu-user-static's entry (flag F): a static interpreter, opened here, needs no loader
    # or libraries from whatever mount namespace a PowerPC program starts in.
    if ! cat /usr/lib/binfmt.d/qemu-ppc.conf >"$binfmt_dir/register"; then
        echo "binfmt_misc refused the qemu-ppc entry." >&2
        return 1
    fi
    trap 'echo -1 >"$ppc_binfmt_entry"' EXIT
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
    # Labels: cmake/VelaTesting.cmake. Without binfmt_misc, qemu-user cannot follow a
    # test into the target programs it starts (the device, the editor's pty driver).
    if [ "$variant" = ppc ]; then
        # Emulated, programs run several times slower (CPU-bound work, such as a 3 MiB
        # paste, over ten times): tests wait three times as long (tests/support/time_scale.h).
        export VELA_TEST_TIME_SCALE=3
        if register_ppc_emulation; then
            filter=(-LE emulation-unsafe)
        else
            echo "Running the unit tests only: the others start PowerPC programs themselves." >&2
            filter=(-LE 'e2e|pty|emulation-unsafe')
        fi
    fi
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
