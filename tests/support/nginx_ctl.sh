#!/usr/bin/env bash
# Runs Debian's stock nginx with tools/nginx/tvl-launcher.conf for tests:
#   nginx_ctl.sh start STATE_DIR ADDRESS SITE_DIR [RATE]
#   TVL_NGINX_PLAIN=PORT nginx_ctl.sh start ...   plain HTTP on ADDRESS:PORT,
#                                                  as an origin behind a cache
#   TVL_NGINX_MAX_RANGES=1 nginx_ctl.sh start ...  one range per request, as object
#                                                  storage (S3, R2) serves them
#   nginx_ctl.sh stop STATE_DIR
# Only the marked values of the shipped server block change: the address,
# the certificate (a self-signed one for another host name) and the site.
# The workers run as www-data with Debian's usual http settings, as on a
# server owner's machine, so files www-data cannot read answer 403 here too.
# The site must therefore lie where www-data can reach it (not under /root).
# RATE (for example 4m) slows file bodies down, to interrupt a download.
# Every request is logged to STATE_DIR/access.log as "uri status range bytes",
# bytes being all that went out for it, headers included.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cmd="$1"
dir="$(mkdir -p "$2" && cd "$2" && pwd)"

stop() {
    if [ -f "$dir/nginx.pid" ]; then
        nginx -p "$dir" -c "$dir/nginx.conf" -s stop 2>/dev/null || kill "$(cat "$dir/nginx.pid")" 2>/dev/null || true
        for _ in $(seq 50); do [ -f "$dir/nginx.pid" ] || break; sleep 0.1; done
        rm -f "$dir/nginx.pid"
    fi
}

case "$cmd" in
start)
    address="$3"
    site="$(cd "$4" && pwd)"
    rate="${5:-}"
    stop
    if ! runuser -u www-data -- test -x "$site"; then
        echo "nginx_ctl: www-data cannot reach $site; put the test site under /tmp" >&2
        exit 1
    fi
    if [ ! -f "$dir/cert.pem" ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=tervalon-test.invalid" \
            -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1
    fi
    mkdir -p "$dir/temp"
    listen="listen $address:443 ssl;"
    [ -n "${TVL_NGINX_PLAIN:-}" ] && listen="listen $address:$TVL_NGINX_PLAIN;"
    [ -n "${TVL_NGINX_MAX_RANGES:-}" ] && listen="$listen max_ranges $TVL_NGINX_MAX_RANGES;"
    server=$(sed -e "s#listen 443 ssl;#$listen#" \
                 -e "s#/etc/ssl/certs/tervalon.pem#$dir/cert.pem#" \
                 -e "s#/etc/ssl/private/tervalon.key#$dir/key.pem#" \
                 -e "s#root /srv/tervalon;#root $site;#" \
                 "$here/../../tools/nginx/tvl-launcher.conf")
    if [ -n "$rate" ]; then
        server=${server/try_files \/files\/\$arg_p =404;/limit_rate $rate; try_files \/files\/\$arg_p =404;}
        server=${server/try_files \$uri =404;/limit_rate $rate; try_files \$uri =404;}
    fi
    cat > "$dir/nginx.conf" <<CONF
user www-data;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
    sendfile on;
    tcp_nopush on;
    types_hash_max_size 2048;
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    gzip on;
    log_format tvl '\$request_uri \$status \$http_range \$bytes_sent';
    access_log $dir/access.log tvl;
    client_body_temp_path $dir/temp/body;
    proxy_temp_path $dir/temp/proxy;
$server
}
CONF
    nginx -p "$dir" -c "$dir/nginx.conf"
    ;;
stop) stop ;;
*) echo "usage: nginx_ctl.sh start|stop STATE_DIR [ADDRESS SITE_DIR [RATE]]" >&2; exit 2 ;;
esac
