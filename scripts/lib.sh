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

# build_dir VARIANT: where that variant is built.
build_dir() {
    case "$1" in
        default) echo "$root/build" ;;
        *) echo "$root/build-$1" ;;
    esac
}

configure_and_build() {
    local variant=$1 dir flags=()
    dir=$(build_dir "$variant")
    case "$variant" in
        default) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
        asan) flags=(-DCMAKE_BUILD_TYPE=Debug "-DVELA_SANITIZE=address,undefined") ;;
        *) echo "unknown variant $variant" >&2; exit 2 ;;
    esac
    cmake -S "$root" -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

run_tests() {
    local variant=$1; shift
    export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    # Most end-to-end cases wait on sockets and terminals, so run more than one per core.
    ctest --test-dir "$(build_dir "$variant")" --output-on-failure -j "$(( $(nproc) * 2 ))" "$@"
}
