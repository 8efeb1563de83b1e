#!/usr/bin/env bash
# Every command, scene and visible option of the program's own help appears in the manual page
# and in the bash completion, and the completion offers the right words at each position.
# Usage: check_docs.sh ORVANE_BINARY SOURCE_DIR
set -euo pipefail
orvane="$1"
src="$2"
man="$src/doc/orvane.8"
completion="$src/deploy/completion/orvane"
export ORVANE_OS_RELEASE="$src/examples/nerith-os-release"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

help_texts="$("$orvane" --help)"
commands=$(printf '%s\n' "$help_texts" | sed -n '/^commands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || fail "no commands found in 'orvane --help'"
for c in $commands; do help_texts+=$'\n'"$("$orvane" "$c" --help)"; done
scenes=$("$orvane" profile --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$scenes" ] || fail "no scenes found in 'orvane profile --help'"
# Option words at the start of the help's option lines ("  -o, --out_path OUT_PATH").
options=$(printf '%s\n' "$help_texts" | grep -E '^  -' | grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z_]*' |
  tr -d ' ,' | sort -u)
[ "$(printf '%s\n' "$options" | wc -l)" -ge 10 ] || fail "too few options found: $options"

# In roff, "-" is written "\-".
man_text=$(sed 's/\\-/-/g' "$man")
for word in $commands $scenes $options; do
  grep -qE -- "(^|[^A-Za-z_-])$word([^A-Za-z_]|$)" <<<"$man_text" || fail "orvane.8 lacks $word"
  grep -qE -- "(^|[^A-Za-z_-])$word([^A-Za-z_]|$)" "$completion" || fail "the completion lacks $word"
done

# The completion itself: words typed so far -> words it must offer (and one it must not).
# shellcheck source=/dev/null
source "$completion"
complete_words() {
  read -r -a COMP_WORDS <<<"$1"
  [[ "$1" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _orvane
  printf '%s\n' "${COMPREPLY[@]}"
}
while IFS='|' read -r typed offers refuses; do
  got=$(complete_words "$typed")
  for w in $offers; do grep -qx -- "$w" <<<"$got" || fail "'$typed' does not offer $w: $got"; done
  for w in $refuses; do ! grep -qx -- "$w" <<<"$got" || fail "'$typed' offers $w"; done
done <<'TABLE'
orvane |collection analysis profile apply tuning confuse|-v
orvane -|-h --help -v --version|--perf
orvane profile |kafka_config mysql_config ats_config specweb_config dm_config recover|collection
orvane -o /tmp profile m|mysql_config|kafka_config
orvane analysis --|--perf --pid --duration --offcpu --offcpu_pid --offcpu_duration --test --out_path|--version
orvane collection --|--perf --offcpu|--test
orvane collection --perf --pid -1 --d|--duration|--perf
orvane profile kafka_config -|-o --out_path|-h
orvane apply --|--PATH --enc --de|--cnf
orvane confuse --|--PATH --cnf --un|--enc
orvane tuning --|--tuning_outpath|--perf
TABLE

[ "$failures" -eq 0 ] || exit 1
echo "manual page and completion cover $(echo $commands $scenes $options | wc -w) words"
