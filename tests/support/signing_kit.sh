#!/usr/bin/env bash
# Test certificates and Authenticode-signed test files, made at test time
# (no key is kept in the tree).
#   signing_kit.sh certs DIR
#       DIR/root.pem        "Corvane Test Root" (a CA the tests trust)
#       DIR/a.pem, a.key    publisher A, code signing, issued by the root
#       DIR/b.pem, b.key    publisher B, the same
#       DIR/stray.pem, .key a publisher whose own root nobody trusts
#       DIR/tls.pem, .key   a server certificate for 127.0.0.1 and localhost
#   signing_kit.sh sign DIR PUBLISHER IN OUT      (PUBLISHER: a, b or stray)
set -euo pipefail
cmd="$1"; dir="$2"
quiet() { "$@" >/dev/null 2>&1 || { echo "signing_kit: $* failed" >&2; "$@"; exit 1; }; }

leaf() { # leaf NAME CN ISSUER EXTENSIONS
  quiet openssl req -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -out "$dir/$1.csr" -subj "/CN=$2"
  printf '%b' "$4" >"$dir/$1.ext"
  quiet openssl x509 -req -in "$dir/$1.csr" -CA "$dir/$3.pem" -CAkey "$dir/$3.key" -CAcreateserial \
    -out "$dir/$1.pem" -days 3 -sha256 -extfile "$dir/$1.ext"
}
root() { # root NAME CN
  quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -out "$dir/$1.pem" -days 3 -sha256 \
    -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}

case "$cmd" in
  certs)
    mkdir -p "$dir"
    root root "Corvane Test Root"
    root strayroot "Nobody's Root"
    code='basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
    leaf a "Corvane Test Publisher A" root "$code"
    leaf b "Corvane Test Publisher B" root "$code"
    leaf stray "Corvane Test Publisher A" strayroot "$code"
    leaf tls "127.0.0.1" root 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n'
    ;;
  sign)
    pub="$3"; in="$4"; out="$5"
    chain="$dir/$pub.chain.pem"
    case "$pub" in stray) cat "$dir/stray.pem" "$dir/strayroot.pem" >"$chain" ;; *) cat "$dir/$pub.pem" "$dir/root.pem" >"$chain" ;; esac
    rm -f "$out"
    quiet osslsigncode sign -certs "$chain" -key "$dir/$pub.key" -h sha256 -in "$in" -out "$out"
    ;;
  *) echo "usage: signing_kit.sh certs DIR | sign DIR PUBLISHER IN OUT" >&2; exit 2 ;;
esac
