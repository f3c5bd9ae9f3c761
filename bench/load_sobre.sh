#!/usr/bin/env bash
# Requests per second of the "Sobre" event beside a static web server serving a
# 200-byte file, both on loopback, both measured with wrk in the same run.
#
#   flock /tmp/quelvar-build.lock bench/load_sobre.sh [path/to/quelvar-server]
#
# The server binary defaults to build/quelvar-server (QUELVAR_SERVER overrides).
# wrk and nginx-light are installed with apt-get when missing. Each level
# (LEVELS, default "1 8 64" connections) runs ROUNDS times (default 3) for
# DURATION seconds (default 10) against each server in turn, with
# "Connection: close" and Basic credentials; the table gives the medians of
# the rounds. Prints a table; asserts nothing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
server_bin="${1:-${QUELVAR_SERVER:-$root/build/quelvar-server}}"
duration="${DURATION:-10}"
read -r -a levels <<<"${LEVELS:-1 8 64}"
rounds="${ROUNDS:-3}"
host=127.0.0.1
auth="Basic $(printf '%s' 'varosa:quibet4693' | base64)"

if [[ ! -x "$server_bin" ]]; then
  echo "server binary not found: $server_bin (build it first)" >&2
  exit 1
fi

# --- tools, installing only what is missing -------------------------------
missing=()
command -v wrk >/dev/null 2>&1 || missing+=(wrk)
[[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ "$(id -u)" -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- temporary folders and clean-up ----------------------------------------
work="$(mktemp -d /tmp/quelvar-load-XXXXXX)"
chmod 755 "$work"  # nginx workers may run as another user
server_pid=""
nginx_pid=""
cleanup() {
  if [[ -n "$server_pid" ]] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [[ -n "$nginx_pid" ]] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill -QUIT "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

port_in_use() { ss -Hltn "sport = :$1" | grep -q .; }
free_port() {
  local p
  for _ in $(seq 1 200); do
    p=$((20000 + RANDOM % 40000))
    if ! port_in_use "$p"; then
      echo "$p"
      return 0
    fi
  done
  echo "no free port found" >&2
  return 1
}
wait_for_port() {  # port, pid
  for _ in $(seq 1 100); do
    if port_in_use "$1"; then return 0; fi
    if ! kill -0 "$2" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  return 1
}

server_port="${SERVER_PORT:-$(free_port)}"
nginx_port="${NGINX_PORT:-$(free_port)}"
while [[ "$nginx_port" == "$server_port" ]]; do nginx_port="$(free_port)"; done

# --- the server, in its own program folder ----------------------------------
prog="$work/server"
mkdir -p "$prog" "$work/runtime"
chmod 700 "$work/runtime"
cp "$server_bin" "$prog/quelvar-server"
printf '[INDICE]\nLocalQuelvarDB=%s/QuelvarDB.db3\nPorta=%s\n' "$prog" "$server_port" >"$prog/Config1.ini"
XDG_RUNTIME_DIR="$work/runtime" "$prog/quelvar-server" --headless --create-database \
  >"$work/server.out" 2>"$work/server.err" </dev/null &
server_pid=$!
if ! wait_for_port "$server_port" "$server_pid"; then
  echo "the server did not start listening on $host:$server_port" >&2
  cat "$work/server.err" >&2 || true
  exit 1
fi

# --- the static server, with its own configuration ---------------------------
mkdir -p "$work/www" "$work/nginx"
head -c 200 /dev/zero | tr '\0' 'x' >"$work/www/static.txt"
chmod 644 "$work/www/static.txt"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type text/plain;
  server {
    listen $host:$nginx_port;
    root $work/www;
  }
}
EOF
/usr/sbin/nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" \
  >"$work/nginx/stdout" 2>&1 </dev/null &
nginx_pid=$!
if ! wait_for_port "$nginx_port" "$nginx_pid"; then
  echo "nginx did not start listening on $host:$nginx_port" >&2
  cat "$work/nginx/error.log" "$work/nginx/stdout" >&2 2>/dev/null || true
  exit 1
fi

# --- one check of each target before measuring -------------------------------
sobre_url="http://$host:$server_port/Sobre"
static_url="http://$host:$nginx_port/static.txt"
sobre_status="$(curl -s -o "$work/sobre.body" -w '%{http_code}' -H "Authorization: $auth" -H 'Connection: close' "$sobre_url" || true)"
static_status="$(curl -s -o "$work/static.body" -w '%{http_code}' -H "Authorization: $auth" -H 'Connection: close' "$static_url" || true)"
echo "check: /Sobre -> HTTP $sobre_status, $(wc -c <"$work/sobre.body") body bytes; static -> HTTP $static_status, $(wc -c <"$work/static.body") body bytes"

# --- measurements -------------------------------------------------------------
run_wrk() {  # connections url -> prints "rps non2xx errors"
  local c="$1" url="$2" threads out rps non2xx errors
  threads=$((c < 2 ? c : 2))
  out="$(wrk -t"$threads" -c"$c" -d"${duration}s" -H "Connection: close" -H "Authorization: $auth" "$url" 2>&1)"
  echo "$out" >>"$work/wrk.log"
  rps="$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")"
  non2xx="$(awk '/Non-2xx or 3xx responses:/ {print $NF}' <<<"$out")"
  errors="$(awk -F'Socket errors: ' '/Socket errors:/ {print $2}' <<<"$out" | tr -d ' ')"
  echo "${rps:-0} ${non2xx:-0} ${errors:-none}"
}

median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "wrk ${duration}s per run, $rounds rounds (medians), Connection: close, loopback; server pid $server_pid on :$server_port, nginx on :$nginx_port"
printf '%-12s %14s %14s %10s   %s\n' connections "Sobre req/s" "nginx req/s" ratio "rounds (Sobre / nginx) and notes"
for c in "${levels[@]}"; do
  s_all=() n_all=() notes=""
  for ((r = 0; r < rounds; r++)); do
    read -r s_rps s_bad s_err < <(run_wrk "$c" "$sobre_url")
    read -r n_rps n_bad n_err < <(run_wrk "$c" "$static_url")
    s_all+=("$s_rps") n_all+=("$n_rps")
    [[ "$s_bad" != 0 ]] && notes+="Sobre non-2xx=$s_bad "
    [[ "$s_err" != none ]] && notes+="Sobre socket errors: $s_err "
    [[ "$n_bad" != 0 ]] && notes+="nginx non-2xx=$n_bad "
    [[ "$n_err" != none ]] && notes+="nginx socket errors: $n_err "
  done
  s_med="$(median <<<"${s_all[*]}")"
  n_med="$(median <<<"${n_all[*]}")"
  ratio="$(awk -v a="$s_med" -v b="$n_med" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')"
  printf '%-12s %14s %14s %10s   %s\n' "$c" "$s_med" "$n_med" "$ratio" "${s_all[*]} / ${n_all[*]} $notes"
done
echo "(ratio = Sobre req/s / nginx req/s)"
if [[ -n "${WRK_LOG:-}" ]]; then cp "$work/wrk.log" "$WRK_LOG"; fi
