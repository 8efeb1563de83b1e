#!/bin/sh
# Tunes a private nginx serving a small static page on 127.0.0.1 with wrk as the benchmark,
# entirely inside one directory: its own nginx.conf, prefix, pid file, logs and a free high port.
# Needs the Debian packages nginx-light and wrk (scripts/install-deps.sh installs them) and no
# root; the system's nginx, /etc/nginx and systemd are never touched. nginx is stopped at the
# end, whatever happens. With at least two CPUs, nginx runs on the first and wrk on the second.
#
# Usage: sh examples/nginx/run-nginx.sh [path/to/orvane]   (default: the orvane on PATH)
# Environment (all optional):
#   NGINX_TUNE_DIR             the directory (default: a new one under $TMPDIR or /tmp)
#   NGINX_TUNE_ITERATIONS      evaluations in all, the confirmation's included (default 30)
#   NGINX_TUNE_CONFIRM_ROUNDS  confirmation rounds (default 3)
#   NGINX_TUNE_CONFIRM_MAX_ROUNDS  confirmation rounds at most, when the first ones do not decide
#                              (default 8, or the confirmation rounds when they are more)
#   NGINX_TUNE_SECONDS         seconds per wrk run (default 5)
#   NGINX_TUNE_CONNECTIONS     wrk's open connections (default 64)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
orvane=${1:-$(command -v orvane || true)}
if [ -z "$orvane" ]; then
  echo "run-nginx.sh: no orvane on PATH; install the package (bash scripts/run-main.sh) or name the" >&2
  echo "binary: sh examples/nginx/run-nginx.sh build/bin/orvane" >&2
  exit 127
fi
case $orvane in /*) ;; *) orvane=$PWD/$orvane ;; esac
iterations=${NGINX_TUNE_ITERATIONS:-30}
rounds=${NGINX_TUNE_CONFIRM_ROUNDS:-3}
max_rounds=${NGINX_TUNE_CONFIRM_MAX_ROUNDS:-8}
seconds=${NGINX_TUNE_SECONDS:-5}
connections=${NGINX_TUNE_CONNECTIONS:-64}
for n in "$iterations" "$rounds" "$max_rounds" "$seconds" "$connections"; do
  case $n in '' | *[!0-9]*)
    echo "run-nginx.sh: '$n' is not a whole number" >&2
    exit 2
    ;;
  esac
done
[ -n "${NGINX_TUNE_CONFIRM_MAX_ROUNDS:-}" ] || [ "$max_rounds" -ge "$rounds" ] || max_rounds=$rounds

nginx=$(command -v nginx 2>/dev/null || true)
[ -n "$nginx" ] || [ ! -x /usr/sbin/nginx ] || nginx=/usr/sbin/nginx
if [ -z "$nginx" ] || ! command -v wrk >/dev/null 2>&1; then
  echo "run-nginx.sh: needs nginx and wrk (Debian packages nginx-light and wrk;" \
    "scripts/install-deps.sh installs them)" >&2
  exit 3
fi

dir=${NGINX_TUNE_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/orvane-nginx.XXXXXX")}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# Readable by nginx's workers, which run as an unprivileged user when nginx is started as root.
chmod 755 "$dir"
mkdir -p "$dir/html" "$dir/logs" "$dir/tmp"
cp "$here/index.html" "$dir/html/"
cp "$here/nginxconf.sh" "$here/nginxctl.sh" "$here/bench.sh" "$dir/"
# The initial design fits in the search's share of a small budget.
initial=$((iterations - 2 * rounds))
[ "$initial" -le 8 ] || initial=8
[ "$initial" -ge 1 ] || initial=1
sed -e "s/iterations: 30,/iterations: $iterations,/" -e "s/confirm_rounds: 3,/confirm_rounds: $rounds,/" \
  -e "s/confirm_max_rounds: 8}/confirm_max_rounds: $max_rounds}/" \
  -e "s/initial_points: 8,/initial_points: $initial,/" \
  -e "s/timeout: 60/timeout: $((seconds * 2 + 30))/" "$here/nginx.yaml" >"$dir/nginx.yaml"

# nginx on the first allowed CPU and wrk on the second, when there are two.
cpus=$(taskset -cp $$ 2>/dev/null | sed 's/.*: *//' | awk -F, '{
  for (i = 1; i <= NF && n < 2; i++) {
    split($i, r, "-"); hi = (r[2] == "") ? r[1] : r[2]
    for (c = r[1]; c <= hi && n < 2; c++) { printf "%s%d", (n ? " " : ""), c; n++ }
  }
}')
nginx_cpu=
wrk_cpu=
set -- $cpus
if [ $# -ge 2 ]; then
  nginx_cpu=$1
  wrk_cpu=$2
fi

cd "$dir"
trap 'sh ./nginxctl.sh stop' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A free high port: a random one that nothing listens on, tried until nginx starts on it.
started=
for try in 1 2 3 4 5 6 7 8 9 10; do
  port=$(awk -v seed="$$$try$(date +%N 2>/dev/null)" 'BEGIN { srand(seed % 2147483647); print 20000 + int(rand() * 40000) }')
  if ss -Hltn "sport = :$port" 2>/dev/null | grep -q .; then continue; fi
  sed "s/@PORT@/$port/" "$here/nginx.conf" >nginx.conf
  cat >example.env <<ENV
NGINX=$nginx
PORT=$port
NGINX_CPU=$nginx_cpu
WRK_CPU=$wrk_cpu
WRK_SECONDS=$seconds
WRK_CONNECTIONS=$connections
ENV
  if sh ./nginxctl.sh start 2>/dev/null; then
    started=yes
    break
  fi
done
if [ -z "$started" ]; then
  echo "run-nginx.sh: nginx did not start; see $dir/logs/start.log" >&2
  exit 1
fi
cp nginx.conf nginx.conf.orig
echo "nginx example in $dir: 127.0.0.1:$port, nginx on CPU ${nginx_cpu:-any}, wrk on CPU ${wrk_cpu:-any}"

# On hosts that are not Nerith, the operating-system gate reads the sample os-release file.
if ! grep -qi nerith /etc/os-release 2>/dev/null; then
  export ORVANE_OS_RELEASE="${ORVANE_OS_RELEASE:-$here/../nerith-os-release}"
fi
status=0
"$orvane" tuning -o "$dir" --tuning_outpath "$dir" nginx.yaml || status=$?
if cmp -s nginx.conf nginx.conf.orig; then
  echo "nginx.conf is as it was before tuning"
else
  echo "nginx.conf differs from nginx.conf.orig (the tuned values were applied, or a restore failed)"
fi
exit "$status"
