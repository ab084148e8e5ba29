#!/usr/bin/env bash
# A cache between launchers and the origin, as studios put one in front of
# their site, started and stopped by its own pid files:
#   edge_ctl.sh start varnish|proxy STATE_DIR EDGE_ADDRESS ORIGIN_ADDRESS SITE_DIR [RATE]
#   edge_ctl.sh stop STATE_DIR
#   edge_ctl.sh origin-stop|origin-start STATE_DIR    the origin alone goes down or comes back
# The origin is Debian's stock nginx with the shipped config on plain HTTP
# (ORIGIN_ADDRESS:8080; Varnish listens on EDGE_ADDRESS:6091), logging to STATE_DIR/origin/access.log. The edge
# speaks HTTPS on EDGE_ADDRESS:443, as launchers need:
#  - varnish: Varnish 7.1 with its builtin VCL, storage in memory, a private
#    working folder, behind an nginx that terminates TLS;
#  - proxy: one nginx with TLS and proxy_cache.
# RATE (for example 2m) slows what the edge sends to launchers. The edge's
# log is STATE_DIR/edge/access.log, in the same "uri status range bytes".
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cmd="$1"

stop_pid() {  # stop_pid FILE
    local pid
    pid=$(cat "$1" 2>/dev/null) || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$1"
}

# The front's cache and temp files, which its www-data workers must reach
# whatever folder the build tree lies in (a 0700 checkout, /root).
spool_of() { echo "/tmp/tvl-edge.$(printf '%s' "$1" | md5sum | cut -c1-12)"; }

stop_all() {
    local dir="$1"
    [ -f "$dir/edge/nginx.pid" ] && nginx -p "$dir/edge" -c "$dir/edge/nginx.conf" -s stop 2>/dev/null || true
    stop_pid "$dir/edge/nginx.pid"
    stop_pid "$dir/varnish.pid"
    bash "$here/nginx_ctl.sh" stop "$dir/origin"
    rm -rf "$(spool_of "$dir")"
}

# The TLS front of either kind, with $1 the body of its one location.
front_conf() {
    local dir="$1" address="$2" location="$3" rate="$4" cache="$5" spool
    spool="$(spool_of "$dir")"
    mkdir -p "$dir/edge" "$spool/temp" "$spool/cache"
    chmod 755 "$spool"
    [ -f "$dir/edge/cert.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=tervalon-edge.invalid" \
        -keyout "$dir/edge/key.pem" -out "$dir/edge/cert.pem" >/dev/null 2>&1
    chown -R www-data "$spool/cache" "$spool/temp"
    cat > "$dir/edge/nginx.conf" <<CONF
user www-data;
worker_processes 1;
pid $dir/edge/nginx.pid;
error_log $dir/edge/error.log;
events { worker_connections 256; }
http {
    log_format tvl '\$request_uri \$status \$http_range \$bytes_sent';
    access_log $dir/edge/access.log tvl;
    client_body_temp_path $spool/temp/body;
    proxy_temp_path $spool/temp/proxy;
    $cache
    server {
        listen $address:443 ssl;
        ssl_certificate $dir/edge/cert.pem;
        ssl_certificate_key $dir/edge/key.pem;
        location / {
            ${rate:+limit_rate $rate;}
            $location
        }
    }
}
CONF
    nginx -p "$dir/edge" -c "$dir/edge/nginx.conf"
}

case "$cmd" in
start)
    kind="$2" dir="$(mkdir -p "$3" && cd "$3" && pwd)" edge="$4" origin="$5" site="$6" rate="${7:-}"
    stop_all "$dir"
    rm -rf "$dir/varnish"
    echo "$origin $site" > "$dir/origin.args"
    TVL_NGINX_PLAIN=8080 bash "$here/nginx_ctl.sh" start "$dir/origin" "$origin" "$site"
    if [ "$kind" = varnish ]; then
        mkdir -p "$dir/varnish"
        varnishd -a "$edge:6091" -b "$origin:8080" -s malloc,1g -n "$dir/varnish" -P "$dir/varnish.pid" \
            -T none >/dev/null 2>&1
        front_conf "$dir" "$edge" "proxy_pass http://$edge:6091; proxy_http_version 1.1;" "$rate" ""
    else
        front_conf "$dir" "$edge" \
            "proxy_pass http://$origin:8080; proxy_http_version 1.1; proxy_cache tvl; proxy_cache_key \$request_uri;" \
            "$rate" "proxy_cache_path $(spool_of "$dir")/cache keys_zone=tvl:10m max_size=2g inactive=7d use_temp_path=off;"
    fi
    ;;
origin-stop) bash "$here/nginx_ctl.sh" stop "$2/origin" ;;
origin-start)
    read -r origin site < "$2/origin.args"
    TVL_NGINX_PLAIN=8080 bash "$here/nginx_ctl.sh" start "$2/origin" "$origin" "$site"
    ;;
stop) stop_all "$(mkdir -p "$2" && cd "$2" && pwd)" ;;
*) echo "usage: edge_ctl.sh start varnish|proxy STATE EDGE ORIGIN SITE [RATE] | stop STATE" >&2; exit 2 ;;
esac
