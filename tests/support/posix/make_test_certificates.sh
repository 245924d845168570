#!/usr/bin/env bash
# Makes throw-away certificates in FOLDER:   make_test_certificates.sh FOLDER
#   ca.pem         the authority a client is told to trust
#   other-ca.pem   an authority nobody trusts
#   NAME.pem and NAME.key, each a server's certificate and key:
#     server       from ca.pem for 127.0.0.1: accepted
#     expired      from ca.pem for 127.0.0.1, valid only in January 2020
#     wrong-name   from ca.pem for elsewhere.example only
#     stranger     from other-ca.pem for 127.0.0.1
# 127.0.0.1 is named both as an address and as a DNS name, since some
# systems match an address only against the DNS names.
set -euo pipefail
cd "$1"
key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
# A couple of days outlive any test run.
openssl req -x509 "${key[@]}" -days 2 -subj "/CN=kqget test CA" \
    -keyout ca.key -out ca.pem 2>/dev/null
openssl req -x509 "${key[@]}" -days 2 -subj "/CN=kqget other CA" \
    -keyout other-ca.key -out other-ca.pem 2>/dev/null
# `openssl ca`, unlike `req -x509`, signs for dates in the past.
cat >ca.cnf <<'CONF'
[ca]
default_ca = signer
[signer]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[anything]
commonName = supplied
CONF
: >index.txt
echo 1000 >serial
# sign NAME AUTHORITY SUBJECT-ALT-NAMES DATE-SWITCHES...
sign() {
    local name=$1 authority=$2 names=$3
    shift 3
    openssl req -new "${key[@]}" -subj "/CN=$name" -addext "subjectAltName=$names" \
        -addext "basicConstraints=critical,CA:FALSE" -keyout "$name.key" -out "$name.csr" \
        2>/dev/null
    openssl ca -batch -notext -config ca.cnf -cert "$authority.pem" -keyfile "$authority.key" \
        -in "$name.csr" -out "$name.pem" "$@" 2>/dev/null
}
local_names="IP:127.0.0.1,DNS:127.0.0.1"
sign server ca "$local_names" -days 2
sign expired ca "$local_names" -startdate 20200101000000Z -enddate 20200102000000Z
sign wrong-name ca "DNS:elsewhere.example" -days 2
sign stranger other-ca "$local_names" -days 2
