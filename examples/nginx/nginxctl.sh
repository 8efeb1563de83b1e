#!/bin/sh
# Starts or stops the example's nginx, whose prefix is the current directory (the run's
# temporary directory); example.env there names the nginx binary and the CPU to pin it to.
# Only the nginx whose pid file lies here, and whose command line names this directory, is ever
# signalled.
# Usage: sh ./nginxctl.sh start | stop
set -u
. ./example.env
dir=$(pwd)

running_pid() {
  [ -f nginx.pid ] || return 1
  pid=$(cat nginx.pid 2>/dev/null)
  case $pid in '' | *[!0-9]*) return 1 ;; esac
  kill -0 "$pid" 2>/dev/null || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "-p $dir/" || return 1
  echo "$pid"
}

case ${1:-} in
start)
  if [ -n "$NGINX_CPU" ]; then
    taskset -c "$NGINX_CPU" "$NGINX" -p "$dir/" -c nginx.conf >>logs/start.log 2>&1 </dev/null
  else
    "$NGINX" -p "$dir/" -c nginx.conf >>logs/start.log 2>&1 </dev/null
  fi
  status=$?
  if [ $status -ne 0 ]; then
    echo "nginxctl.sh: nginx did not start (status $status); see $dir/logs/start.log" >&2
    exit 1
  fi
  ;;
stop)
  pid=$(running_pid) || exit 0
  kill -TERM "$pid"
  # A fast shutdown: the master stops its workers and removes the pid file.
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "nginxctl.sh: nginx $pid did not stop within 5 s" >&2
    exit 1
  fi
  ;;
*)
  echo "usage: nginxctl.sh start | stop" >&2
  exit 2
  ;;
esac
