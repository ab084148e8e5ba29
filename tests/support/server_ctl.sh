#!/usr/bin/env bash
# Starts or stops one test server: server_ctl.sh start|stop <state-dir> [address]
# The state dir holds the certificate, the served root (<dir>/root), the pid
# and the server's own output.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cmd="$1"
dir="$2"
address="${3:-127.0.0.2}"

stop() {
    if [ -f "$dir/server.pid" ]; then
        kill "$(cat "$dir/server.pid")" 2>/dev/null || true
        rm -f "$dir/server.pid"
    fi
}

case "$cmd" in
start)
    stop
    mkdir -p "$dir/root/files"
    # Issued for another host name on purpose: the launcher must accept it.
    if [ ! -f "$dir/cert.pem" ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=tervalon-test.invalid" \
            -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1
    fi
    rm -f "$dir/ready"
    nohup python3 "$here/test_server.py" --root "$dir/root" --address "$address" \
        --cert "$dir/cert.pem" --key "$dir/key.pem" --ready-file "$dir/ready" \
        >"$dir/server.out" 2>&1 </dev/null &
    echo $! >"$dir/server.pid"
    for _ in $(seq 1 100); do
        [ -f "$dir/ready" ] && exit 0
        if ! kill -0 "$(cat "$dir/server.pid")" 2>/dev/null; then break; fi
        sleep 0.1
    done
    echo "test server on $address did not start:" >&2
    cat "$dir/server.out" >&2
    exit 1
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start|stop <dir> [address]" >&2
    exit 2
    ;;
esac
