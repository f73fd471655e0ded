#!/usr/bin/env bash
# Builds the release of SolenneBrisaUpdate.exe from three raw firmware images:
#
#   tools/release.sh --application RAW --boot RAW --picture RAW [--build-dir DIR]
#
# 1. builds the host tools and image-inspect natively, with the same raw images, so
#    that image-inspect holds the records of exactly these images (DIR/host);
# 2. cross-builds the Windows program with them (DIR/a) and checks it with
#    `image-inspect list`;
# 3. builds it again in a fresh folder (DIR/b) and requires identical bytes;
# 4. signs it when TESSEL_SIGN_PKCS12 names a PKCS#12 file (password in
#    TESSEL_SIGN_PASSWORD, read by osslsigncode from a pipe, never from its command
#    line; time stamp server in TESSEL_SIGN_TIMESTAMP_URL, none when unset), verifies
#    the signature against TESSEL_SIGN_CA (default: the system's CA store) and checks
#    the signed file with `image-inspect list` again.
#
# The result is DIR/out/SolenneBrisaUpdate.exe (DIR defaults to build/release-win);
# its path and SHA-256 are the last lines printed.
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
    echo "usage: tools/release.sh --application RAW --boot RAW --picture RAW [--build-dir DIR]" >&2
    exit 2
}

application="" boot="" picture="" build_dir="$source_dir/build/release-win"
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
        --application) application="$2" ;;
        --boot) boot="$2" ;;
        --picture) picture="$2" ;;
        --build-dir) build_dir="$2" ;;
        *) usage ;;
    esac
    shift 2
done
[ -n "$application" ] && [ -n "$boot" ] && [ -n "$picture" ] || usage
for raw in "$application" "$boot" "$picture"; do
    [ -f "$raw" ] || { echo "release: no such image: $raw" >&2; exit 1; }
done
application="$(realpath "$application")"
boot="$(realpath "$boot")"
picture="$(realpath "$picture")"
mkdir -p "$build_dir"
build_dir="$(realpath "$build_dir")"
[ -z "${TESSEL_SIGN_PKCS12:-}" ] || TESSEL_SIGN_PKCS12="$(realpath "$TESSEL_SIGN_PKCS12")"
[ -z "${TESSEL_SIGN_CA:-}" ] || TESSEL_SIGN_CA="$(realpath "$TESSEL_SIGN_CA")"
cd "$source_dir"  # where the presets are

# The password stays in this shell: the compilers and cmake need not inherit it.
sign_password="${TESSEL_SIGN_PASSWORD:-}"
unset TESSEL_SIGN_PASSWORD
if [ -n "${TESSEL_SIGN_PKCS12:-}" ]; then
    command -v osslsigncode >/dev/null || { echo "release: osslsigncode is not installed" >&2; exit 1; }
    [ -f "$TESSEL_SIGN_PKCS12" ] || { echo "release: no such PKCS#12 file: $TESSEL_SIGN_PKCS12" >&2; exit 1; }
fi

images=(-DTESSEL_APPLICATION_RAW="$application" -DTESSEL_BOOT_RAW="$boot" -DTESSEL_PICTURE_RAW="$picture")
step() { echo "== release: $*"; }
# Runs a build step quietly into LOG; on failure shows its end.
logged() {
    local log="$1"
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 30 "$log" >&2
        echo "release: failed: $* (log: $log)" >&2
        exit 1
    fi
}

# A release made from a tree with changes not committed says so.
step "source $(git -C "$source_dir" describe --always --dirty 2>/dev/null || echo "(not a git checkout)")"

# The host build is kept between releases; configuring it again with other images
# makes it pack and record those.
step "host tools and image-inspect for these images ($build_dir/host)"
logged "$build_dir/host-configure.log" cmake -S "$source_dir" -B "$build_dir/host" -DCMAKE_BUILD_TYPE=Release \
    -DTESSEL_WARNINGS_AS_ERRORS=ON -DTESSEL_BUILD_TESTS=OFF "${images[@]}"
logged "$build_dir/host-build.log" cmake --build "$build_dir/host" -j2 \
    --target image-inspect firmware-gen lzari-pack image-records ui-art-gen
host_tools="$build_dir/host/tools"
inspect="$host_tools/image-inspect"

build_windows() {
    local dir="$build_dir/$1"
    rm -rf "$dir"
    logged "$build_dir/$1-configure.log" cmake --preset mingw -S "$source_dir" -B "$dir" \
        -DTESSEL_HOST_TOOLS_DIR="$host_tools" "${images[@]}"
    logged "$build_dir/$1-build.log" cmake --build "$dir" -j2 --target SolenneBrisaUpdate
}

step "Windows program ($build_dir/a)"
build_windows a
exe_a="$build_dir/a/SolenneBrisaUpdate.exe"
"$inspect" list "$exe_a" || { echo "release: $exe_a does not carry exactly these images" >&2; exit 1; }

step "Windows program again, in a fresh folder ($build_dir/b)"
build_windows b
exe_b="$build_dir/b/SolenneBrisaUpdate.exe"
cmp "$exe_a" "$exe_b" || { echo "release: the two builds differ; the build is not reproducible" >&2; exit 1; }
echo "identical: $exe_a and $exe_b"
echo "unsigned SHA-256: $(sha256sum "$exe_a" | cut -d' ' -f1)"

out_dir="$build_dir/out"
release="$out_dir/SolenneBrisaUpdate.exe"
mkdir -p "$out_dir"
rm -f "$release"
if [ -z "${TESSEL_SIGN_PKCS12:-}" ]; then
    step "not signed: TESSEL_SIGN_PKCS12 is unset"
    cp "$exe_a" "$release"
else
    step "signing with $TESSEL_SIGN_PKCS12"
    timestamp=()
    if [ -n "${TESSEL_SIGN_TIMESTAMP_URL:-}" ]; then
        timestamp=(-t "$TESSEL_SIGN_TIMESTAMP_URL")
    fi
    # printf is a shell builtin: the password appears on no command line.
    osslsigncode sign -pkcs12 "$TESSEL_SIGN_PKCS12" -readpass <(printf '%s' "$sign_password") \
        -h sha256 -n "Solenne/Brisa Update" "${timestamp[@]}" -in "$exe_a" -out "$release"
    trusted=()
    if [ -n "${TESSEL_SIGN_CA:-}" ]; then
        trusted=(-CAfile "$TESSEL_SIGN_CA")
    fi
    step "verifying the signature"
    osslsigncode verify "${trusted[@]}" -in "$release"
    step "the signed program still carries this build's images"
    "$inspect" list "$release" || { echo "release: image-inspect cannot read the signed $release" >&2; exit 1; }
fi

echo "release: $release"
echo "SHA-256: $(sha256sum "$release" | cut -d' ' -f1)"
