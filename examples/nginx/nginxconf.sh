#!/bin/sh
# Reads or rewrites one tuned directive of nginx.conf in the current directory; each stands alone
# on its line ("    keepalive_timeout 65;"), and a rewrite keeps the rest of the file byte for
# byte.
# Usage: sh ./nginxconf.sh get NAME | sh ./nginxconf.sh set NAME VALUE
set -eu
name=$2
case $name in *[!a-z_]*) echo "nginxconf.sh: bad directive name '$name'" >&2; exit 2 ;; esac
case $1 in
get)
  sed -n "s/^ *$name \\(.*\\);\$/\\1/p" nginx.conf
  ;;
set)
  if ! grep -q "^ *$name .*;\$" nginx.conf; then
    echo "nginxconf.sh: nginx.conf has no line '$name ...;'" >&2
    exit 1
  fi
  # The value goes into a sed replacement: escape its special characters.
  value=$(printf '%s\n' "$3" | sed 's/[\\/&]/\\&/g')
  sed -i "s/^\\( *$name \\).*;\$/\\1$value;/" nginx.conf
  ;;
*)
  echo "usage: nginxconf.sh get NAME | nginxconf.sh set NAME VALUE" >&2
  exit 2
  ;;
esac
