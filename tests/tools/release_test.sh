#!/usr/bin/env bash
# tools/release.sh end to end: stand-in images (the application changed, so that a
# release of other images than the build's own shows), a throw-away CA and code
# signing certificate made here, two MinGW builds, the signature verified.
#
#   tests/tools/release_test.sh [STAND_IN_DIR]
#
# STAND_IN_DIR holds application.bin, boot.bin and picture.bin (default: those the
# debug build generated, build/debug/images/resources). Needs the MinGW-w64
# toolchain, osslsigncode and openssl. Works in build/release-test.
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
stand_ins="${1:-$source_dir/build/debug/images/resources}"
work="$source_dir/build/release-test"
native_inspect="$source_dir/build/debug/tools/image-inspect"

fail() {
    echo "release_test: FAILED: $*" >&2
    exit 1
}

for kind in application boot picture; do
    [ -f "$stand_ins/$kind.bin" ] || fail "no stand-in $stand_ins/$kind.bin (build the debug preset first)"
done
mkdir -p "$work"
keys="$work/keys"
rm -rf "$keys" "$work/images"
mkdir -p "$keys" "$work/images"
chmod 700 "$keys"

# A release of firmware this tree has not seen: the stand-in application, extended.
cp "$stand_ins/boot.bin" "$stand_ins/picture.bin" "$work/images/"
{ cat "$stand_ins/application.bin"; printf 'release test build\n'; } >"$work/images/application.bin"

# The certificates: a CA, a code signing certificate it issues, the key and chain
# in a PKCS#12 file with a password; and a second CA that issued nothing.
export P12_PASSWORD="release-test-$$-$RANDOM"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessel Release Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$keys/ca.key" -out "$keys/ca.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessel Stranger CA" \
    -addext "basicConstraints=critical,CA:TRUE" -keyout "$keys/other-ca.key" -out "$keys/other-ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Tessel Release Test Signer" \
    -keyout "$keys/signer.key" -out "$keys/signer.csr" 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    >"$keys/signer.ext"
openssl x509 -req -days 2 -in "$keys/signer.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" -CAcreateserial \
    -extfile "$keys/signer.ext" -out "$keys/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$keys/signer.key" -in "$keys/signer.pem" -certfile "$keys/ca.pem" \
    -passout env:P12_PASSWORD -out "$keys/signer.p12"

start=$SECONDS
log="$work/release.log"
TESSEL_SIGN_PKCS12="$keys/signer.p12" TESSEL_SIGN_PASSWORD="$P12_PASSWORD" TESSEL_SIGN_CA="$keys/ca.pem" \
    "$source_dir/tools/release.sh" --application "$work/images/application.bin" --boot "$work/images/boot.bin" \
    --picture "$work/images/picture.bin" --build-dir "$work/build" 2>&1 | tee "$log" ||
    fail "tools/release.sh failed (log: $log)"
echo "release_test: tools/release.sh took $((SECONDS - start)) s"

signed="$work/build/out/SolenneBrisaUpdate.exe"
inspect="$work/build/host/tools/image-inspect"
[ -f "$signed" ] || fail "no signed program at $signed"
grep -qx "release: $signed" "$log" || fail "the release's path was not printed"
grep -qx "SHA-256: $(sha256sum "$signed" | cut -d' ' -f1)" "$log" || fail "the printed SHA-256 is not the file's"
grep -q "^identical: " "$log" || fail "the two builds were not compared"
cmp -s "$work/build/a/SolenneBrisaUpdate.exe" "$signed" && fail "the released program is not signed"

osslsigncode verify -CAfile "$keys/ca.pem" -in "$signed" >/dev/null || fail "the signature does not verify"
if osslsigncode verify -CAfile "$keys/other-ca.pem" -in "$signed" >/dev/null 2>&1; then
    fail "the signature verifies against a CA that did not issue the certificate"
fi

listing="$("$inspect" list "$signed")" || fail "image-inspect list does not accept the signed program"
grep -q "^product version 2.14186.0.0$" <<<"$listing" || fail "no product version in: $listing"
[ "$(grep -c ' ok$' <<<"$listing")" -eq 3 ] || fail "not every image matches: $listing"

# A build that did not pack these images must not vouch for them.
if [ -x "$native_inspect" ]; then
    other="$("$native_inspect" list "$signed")" && fail "the debug build's image-inspect accepts images it did not record"
    grep -q "^ 169 .*MISMATCH$" <<<"$other" || fail "the changed application is not reported: $other"
fi
echo "release_test: passed"
