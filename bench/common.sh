# Shared by the benchmark scripts: sourced after `cd` to the repository.
prefix="$PWD/build/windows/wineprefix"
# What a fresh machine lacks, then the given targets of the Windows build.
build_targets() {
    bash scripts/setup.sh
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target "$@" >/dev/null
}
# bench_update.exe under Wine, its "key value" lines without carriage returns.
run() { scripts/wine-run.sh "$prefix" build/windows/bench_update.exe "$@" | tr -d '\r'; }
winpath() { echo "Z:$1" | tr / '\\'; }
field() { grep "^$1 " | cut -d' ' -f2; }
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
min() { printf '%s\n' "$@" | sort -g | head -1; }
max() { printf '%s\n' "$@" | sort -g | tail -1; }
# plain_nginx STATE_DIR ADDRESS:PORT ROOT [RATE]: stock nginx on plain HTTP
# (zsync has no TLS) serving ROOT, its /z/ slowed to RATE when given, every
# request logged to STATE_DIR/access.log as "uri status range bytes".
plain_nginx() {
    local dir="$1" listen="$2" root="$3" rate="${4:-}"
    [ -f "$dir/nginx.pid" ] && kill "$(cat "$dir/nginx.pid")" 2>/dev/null && sleep 0.3
    mkdir -p "$dir"
    : > "$dir/access.log"
    cat > "$dir/nginx.conf" <<CONF
user www-data;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
    sendfile on;
    default_type application/octet-stream;
    log_format tvl '\$request_uri \$status \$http_range \$bytes_sent';
    access_log $dir/access.log tvl;
    server { listen $listen; root $root; location /z/ { ${rate:+limit_rate $rate;} } }
}
CONF
    nginx -p "$dir" -c "$dir/nginx.conf"
}
