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
conf="$dir/squid.conf"

stop() {
    [ -f "$dir/squid.pid" ] || return 0
    squid -f "$conf" -k shutdown 2>/dev/null || kill "$(cat "$dir/squid.pid")" 2>/dev/null || true
    for _ in $(seq 100); do [ -f "$dir/squid.pid" ] || break; sleep 0.1; done
    rm -f "$dir/squid.pid"
}

case "$cmd" in
start)
    stop
    chmod 777 "$dir"  # squid's workers run as its own user, proxy
    cat > "$conf" <<CONF
http_port $3
pid_filename $dir/squid.pid
cache_log $dir/cache.log
logformat tvl %rm %ru %>Hs
access_log stdio:$dir/access.log tvl
cache deny all
coredump_dir $dir
shutdown_lifetime 0 seconds
pinger_enable off
acl SSL_ports port 443
acl CONNECT method CONNECT
http_access deny CONNECT !SSL_ports
http_access allow all
CONF
    : > "$dir/access.log"
    chmod 666 "$dir/access.log"
    squid -f "$conf"
    for _ in $(seq 100); do
        [ -s "$dir/squid.pid" ] && (exec 3<>"/dev/tcp/${3%:*}/${3##*:}") 2>/dev/null && exit 0
        sleep 0.1
    done
    echo "squid_ctl: squid did not start: $(tail -5 "$dir/cache.log" 2>/dev/null)" >&2
    exit 1
    ;;
stop) stop ;;
*) echo "usage: squid_ctl.sh start|stop STATE_DIR [ADDRESS:PORT]" >&2; exit 2 ;;
esac
