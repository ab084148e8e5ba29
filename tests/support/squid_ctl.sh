#!/usr/bin/env bash
# Runs Debian's squid as a player's proxy for tests:
#   squid_ctl.sh start STATE_DIR ADDRESS:PORT
#   squid_ctl.sh stop STATE_DIR
# Every request is logged to STATE_DIR/access.log as "method url status",
# a CONNECT as "CONNECT host:port 200". Nothing is cached. It lets CONNECT
# reach port 443 only, as squid's own default does.
set -euo pipefail
cmd="$1"
dir="$(mkdir -p "$2" && cd "$2" && pwd)"
# squid's workers run as its own user (proxy), who cannot reach a build tree
# under /root or a private temporary folder: squid works in a folder of its
# own under /tmp, and STATE_DIR/access.log points at its log.
run="/tmp/tvl-squid.$(printf '%s' "$dir" | sha1sum | cut -c1-12)"
conf="$run/squid.conf"

stop() {
    [ -f "$run/squid.pid" ] || return 0
    squid -f "$conf" -k shutdown 2>/dev/null || kill "$(cat "$run/squid.pid")" 2>/dev/null || true
    for _ in $(seq 100); do [ -f "$run/squid.pid" ] || break; sleep 0.1; done
    rm -f "$run/squid.pid"
}

case "$cmd" in
start)
    stop
    mkdir -p "$run"
    chmod 777 "$run"
    cat > "$conf" <<CONF
http_port $3
pid_filename $run/squid.pid
cache_log $run/cache.log
logformat tvl %rm %ru %>Hs
access_log stdio:$run/access.log tvl
cache deny all
coredump_dir $run
shutdown_lifetime 0 seconds
pinger_enable off
acl SSL_ports port 443
acl CONNECT method CONNECT
http_access deny CONNECT !SSL_ports
http_access allow all
CONF
    : > "$run/access.log"
    chmod 666 "$run/access.log"
    ln -sfn "$run/access.log" "$dir/access.log"
    squid -f "$conf"
    for _ in $(seq 100); do
        [ -s "$run/squid.pid" ] && (exec 3<>"/dev/tcp/${3%:*}/${3##*:}") 2>/dev/null && exit 0
        sleep 0.1
    done
    echo "squid_ctl: squid did not start: $(tail -5 "$run/cache.log" 2>/dev/null)" >&2
    exit 1
    ;;
stop) stop ;;
*) echo "usage: squid_ctl.sh start|stop STATE_DIR [ADDRESS:PORT]" >&2; exit 2 ;;
esac
