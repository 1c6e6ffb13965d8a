#!/usr/bin/env bash
# Makes a test CA and a certificate for "localhost" signed by it, for the
# loopback HTTPS servers of the tests and the emulator. Never used outside tests.
# Usage: make-test-ca.sh <dir>   (does nothing when the files exist)
set -euo pipefail
dir=$1
[ -f "$dir/server.pem" ] && [ -f "$dir/ca.der" ] && exit 0
mkdir -p "$dir"
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
