#!/bin/sh
# Makes the certificate for a name no test connects to ("wrong.example") and the authority that issued it.
# Tests trust that authority alongside ca.pem, so that the name is the only thing wrong.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 36500 -subj "/CN=Mirvo Test Wrong-Name Authority" \
    -keyout "$work/ca.key" -out wrong-name-ca.pem \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
openssl req -newkey rsa:2048 -nodes -subj "/CN=wrong.example" -keyout "$work/key.pem" -out "$work/request.csr"
printf 'subjectAltName=DNS:wrong.example\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > "$work/extensions"
openssl x509 -req -in "$work/request.csr" -CA wrong-name-ca.pem -CAkey "$work/ca.key" -CAcreateserial -CAserial "$work/serial" \
    -days 36500 -extfile "$work/extensions" -out wrong-name.pem
openssl rsa -in "$work/key.pem" -traditional -out wrong-name.key
