# Sourced by the server fixtures (it needs their die function).
# make_certificates STATE [NAMES]: a CA (STATE/ca.pem) and a server
# certificate for 127.0.0.1 and localhost signed by it (STATE/server.pem,
# STATE/server.key); NAMES adds subject alternative names, such as
# ",DNS:dc1.example.com".
make_certificates() {
    local state=$1 names=${2:-}
    (
        cd "$state"
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Test CA" \
            -keyout ca.key -out ca.pem \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1
        openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
            -keyout server.key -out server.csr >/dev/null 2>&1
        printf '%s\n' "basicConstraints=CA:FALSE" \
            "keyUsage=digitalSignature,keyEncipherment" \
            "extendedKeyUsage=serverAuth" \
            "subjectAltName=IP:127.0.0.1,DNS:localhost$names" >server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
            -days 2 -extfile server.ext -out server.pem >/dev/null 2>&1
        chmod 600 server.key ca.key
    ) || die "could not make the test certificates"
}
