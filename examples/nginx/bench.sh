#!/bin/sh
# One benchmark run: wrk fetches the example's static page from its nginx for WRK_SECONDS
# seconds and prints its report ("Requests/sec: N"). A run in which more than 1% of the requests
# failed (socket errors, or answers other than 2xx/3xx) fails instead, so that a configuration
# that drops connections gives no figure.
set -u
. ./example.env
# Access logging stays on; only the lines of the last run are kept.
: >logs/access.log
url="http://127.0.0.1:$PORT/index.html"
if [ -n "$WRK_CPU" ]; then
  out=$(taskset -c "$WRK_CPU" wrk -t1 -c"$WRK_CONNECTIONS" -d"${WRK_SECONDS}s" "$url" 2>&1)
else
  out=$(wrk -t1 -c"$WRK_CONNECTIONS" -d"${WRK_SECONDS}s" "$url" 2>&1)
fi
status=$?
if [ $status -ne 0 ]; then
  printf 'wrk failed (status %s):\n%s\n' "$status" "$out" >&2
  exit 1
fi
verdict=$(printf '%s\n' "$out" | awk '
  / requests in / { requests = $1 }
  /Socket errors:/ { gsub(",", ""); errors += $4 + $6 + $8 + $10 }
  /Non-2xx or 3xx responses:/ { errors += $NF }
  END {
    if (requests == 0) print "no request was answered"
    else if (errors * 100 > requests) printf "%d of %d requests failed\n", errors, requests
  }')
if [ -n "$verdict" ]; then
  printf '%s\n%s\n' "$verdict" "$out" >&2
  exit 1
fi
printf '%s\n' "$out"
