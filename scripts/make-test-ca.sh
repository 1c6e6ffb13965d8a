#!/usr/bin/env bash
# Makes a test CA and a certificate for "localhost" signed by it, for the
# loopback HTTPS servers of the tests and the emulator. Never used outside tests.
# Usage: make-test-ca.sh <dir>   (does nothing when the files exist)
#        make-test-ca.sh <dir> --names <out.pem> NAME...
#          also issues <out.pem> (certificate and key) for the host names
#          given, signed by the same CA: a machine whose name resolution
#          points those names at a local server (the 32-bit smoke test)
set -euo pipefail
dir=$1

# names OUT NAME...: a certificate for these DNS names, unless OUT holds one.
names() {
  local out=$1 san="" n
  shift
  [ -f "$out" ] && [ "$out" -nt "$dir/ca.pem" ] && return 0
  for n in "$@"; do san+="${san:+,}DNS:$n"; done
  local tmp
  tmp=$(mktemp -d)
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$1" -keyout "$tmp/key" -out "$tmp/csr" 2>/dev/null
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$san" >"$tmp/ext"
  openssl x509 -req -in "$tmp/csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 3650 \
    -extfile "$tmp/ext" -out "$tmp/crt" 2>/dev/null
  cat "$tmp/crt" "$tmp/key" >"$out"
  rm -rf "$tmp"
}

if [ -f "$dir/server.pem" ] && [ -f "$dir/ca.der" ]; then
  [ "${2:-}" = --names ] || exit 0
  shift 2
  names "$@"
  exit 0
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=QXtts Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl x509 -in ca.pem -outform der -out ca.der
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
  -extfile server.ext -out server.crt 2>/dev/null
cat server.crt server.key > server.pem
# A self-signed certificate that no prefix trusts, for the negative tests.
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost" -keyout untrusted.key -out untrusted.crt 2>/dev/null
cat untrusted.crt untrusted.key > untrusted.pem
rm -f server.csr
if [ "${2:-}" = --names ]; then
  shift 2
  names "$@"
fi
