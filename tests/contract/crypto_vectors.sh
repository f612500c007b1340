#!/bin/sh
# Makes the signature checks' test files with the openssl program, the way a
# publisher makes keys and signatures:
#   crypto_vectors.sh DIR           writes them into DIR
#   crypto_vectors.sh --run CMD...  writes them into a fresh temporary folder,
#                                   runs CMD with OVLU_CRYPTO_VECTORS naming
#                                   that folder, and removes it
# Keys: a, b (P-256), p384, k256 (secp256k1), rsa; NAME.pem is the public half of NAME.key.
# Files: data.bin, other.bin, empty.bin, each with FILE.sha256 (the digest in
# hex); FILE.KEY.sig is "openssl dgst -sha256 -sign KEY.key" over FILE.
set -eu

make_vectors() {
  out=$1
  mkdir -p "$out"
  cd "$out"
  for k in a b; do
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out $k.key 2>/dev/null
  done
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out p384.key 2>/dev/null
  # Another curve with points of the same size as P-256's.
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:secp256k1 -out k256.key 2>/dev/null
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key 2>/dev/null
  for k in a b p384 k256 rsa; do openssl pkey -in $k.key -pubout -out $k.pem; done
  # Key a once more, its point in compressed form.
  openssl pkey -in a.key -pubout -ec_conv_form compressed -out compressed.pem
  # Two keys for a roll-over; a block that is base64 but no key; plain noise.
  cat a.pem b.pem >ab.pem
  # The same as a Windows editor may save it: a byte-order mark, CRLF lines.
  { printf '\357\273\277'; sed 's/$/\r/' ab.pem; } >crlf.pem
  { echo "-----BEGIN PUBLIC KEY-----"; openssl rand -base64 91;
    echo "-----END PUBLIC KEY-----"; } >garbage.pem
  openssl rand 3000 >noise.pem
  # The usable key after every kind of unusable one, the last cut short.
  { cat noise.pem p384.pem rsa.pem compressed.pem garbage.pem; head -n 2 b.pem; cat a.pem; } >mixed.pem

  openssl rand -out data.bin 1000003
  openssl rand -out other.bin 4099
  : >empty.bin
  for f in data other empty; do
    openssl dgst -sha256 -r $f.bin | cut -d' ' -f1 >$f.sha256
  done
  for k in a b p384 k256 rsa; do openssl dgst -sha256 -sign $k.key -out data.$k.sig data.bin; done
  openssl dgst -sha256 -sign a.key -out other.a.sig other.bin
  # The signatures are sound: openssl itself takes the good one.
  openssl dgst -sha256 -verify a.pem -signature data.a.sig data.bin >/dev/null
}

if [ "${1:-}" = --run ]; then
  shift
  dir=$(mktemp -d "${TMPDIR:-/tmp}/ovlucrypto.XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  (make_vectors "$dir")
  status=0
  OVLU_CRYPTO_VECTORS=$dir "$@" || status=$?
  exit $status
fi
[ $# = 1 ] || { echo "usage: crypto_vectors.sh DIR | --run CMD..." >&2; exit 2; }
make_vectors "$1"
