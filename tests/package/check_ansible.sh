#!/usr/bin/env bash
# The Ansible role against two hosts on this machine (ansible_connection=local), with orvane
# from the build and the install step off: the analysis playbook twice (the second run changes
# nothing), in check mode, the profile playbook's recover, and ansible-lint. Everything goes
# into one temporary directory. Usage: check_ansible.sh ORVANE_BINARY SOURCE_DIR [KEEP_DIR]
set -euo pipefail
orvane=$(realpath "$1")
src=$(realpath "$2")
work=${3:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
export ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_REMOTE_TEMP="$work/ansible-tmp"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default
export XDG_CACHE_HOME="$work/cache" HOME="$work/home"
mkdir -p "$HOME"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cat >"$work/inventory" <<INV
[fleet]
node1 ansible_connection=local ansible_python_interpreter=/usr/bin/python3
node2 ansible_connection=local ansible_python_interpreter=/usr/bin/python3
INV
# Distinct output directories per host; a short sampling; a private journal.
cat >"$work/vars.json" <<VARS
{"orvane_install": false, "orvane_binary": "$orvane",
 "orvane_out_dir": "$work/hosts/{{ inventory_hostname }}",
 "orvane_fetch_dir": "$work/fleet",
 "orvane_environment": {"ORVANE_OS_RELEASE": "$src/examples/nerith-os-release",
                        "ORVANE_SAMPLING": "1,1", "ORVANE_STATE_DIR": "$work/state"}}
VARS
playbook() {
  ansible-playbook -i "$work/inventory" -e "@$work/vars.json" "$@"
}
# "changed=N" of each host in the play recap, e.g. "node1 0\nnode2 0".
recap_changed() {
  sed -n 's/^\([a-z0-9]*\) *: ok=[0-9]* *changed=\([0-9]*\).*/\1 \2/p' "$1"
}

# node1 starts with an older result of the documented shape, so the overview shows a result even
# from an orvane that writes none; a newer one written by the run replaces it.
mkdir -p "$work/hosts/node1/orvaneData"
cp "$src/tests/package/sample_analysis.json" "$work/hosts/node1/orvaneData/orvane_analysis_01010000.json"
touch -d '2001-01-01' "$work/hosts/node1/orvaneData/orvane_analysis_01010000.json"

playbook "$src/deploy/ansible/analysis.yml" >"$work/run1.log" || { cat "$work/run1.log"; fail "first analysis run"; }
for host in node1 node2; do
  ls "$work/fleet/$host"/orvane_report_*.html >/dev/null || fail "no report fetched from $host"
  ls "$work/hosts/$host/orvaneData"/orvane_report_*.html >/dev/null || fail "$host did not write into its own -o"
  grep -q "$host" "$work/fleet/index.html" || fail "the overview lacks $host"
  grep -q "href=\"$host/orvane_report_" "$work/fleet/index.html" || fail "the overview lacks $host's report link"
done

# Every high finding and suggested change of each fetched result is on the page, escaped.
python3 - "$work/fleet" <<'PY' || fail "the overview does not show the hosts' results"
import glob, html, json, sys
page = open(sys.argv[1] + "/index.html", encoding="utf-8").read()
results = glob.glob(sys.argv[1] + "/node*/orvane_analysis_*.json")
for path in results:
    r = json.load(open(path, encoding="utf-8"))
    for f in r.get("findings", []):
        if f.get("severity") == "high":
            assert html.escape(f["text"], quote=False) in page, f["text"]
    for c in r.get("checks", []):
        if c.get("status") == "change":
            assert html.escape(c["parameter"], quote=False) in page, c["parameter"]
assert results, "no JSON result fetched"
PY

playbook "$src/deploy/ansible/analysis.yml" >"$work/run2.log" || { cat "$work/run2.log"; fail "second analysis run"; }
[ "$(recap_changed "$work/run2.log")" = $'localhost 0\nnode1 0\nnode2 0' ] ||
  { cat "$work/run2.log"; fail "the second analysis run changed something"; }

playbook --check "$src/deploy/ansible/analysis.yml" >"$work/check.log" || { cat "$work/check.log"; fail "check mode"; }

# recover with nothing recorded changes nothing, in check mode and for real (Ansible shows the
# diff of changed tasks only).
rc=0
ORVANE_STATE_DIR="$work/state" ORVANE_OS_RELEASE="$src/examples/nerith-os-release" \
  "$orvane" profile -o "$work/probe" recover </dev/null >/dev/null 2>&1 || rc=$?
if [ "$rc" -ne 3 ]; then
  for mode in --check ""; do
    playbook $mode --diff -e orvane_action=recover "$src/deploy/ansible/profile.yml" </dev/null >"$work/recover.log" ||
      { cat "$work/recover.log"; fail "recover ${mode:-run}"; }
    [ "$(recap_changed "$work/recover.log")" = $'node1 0\nnode2 0' ] || { cat "$work/recover.log"; fail "recover changed"; }
  done
else
  echo "SKIP: profile recover is not part of this build (exit 3)"
fi

# The profile playbook's Y/N road, against a stand-in for orvane that plans one setting, asks,
# and records a journal file on Y (or says there is nothing to change once it is recorded).
cat >"$work/orvane-standin" <<'STANDIN'
#!/bin/sh
journal="$ORVANE_STATE_DIR/profile-1.json"
if [ -e "$journal" ]; then echo "nothing to change: the profile is active"; exit 0; fi
echo "plan: vm.swappiness 60 -> 1 (live)"
printf '(Y/N): '
read -r answer || exit 1
case $answer in
  Y | y) mkdir -p "$ORVANE_STATE_DIR" && echo '{}' >"$journal" && echo "applied: vm.swappiness = 1" ;;
  *) echo "nothing changed" ;;
esac
STANDIN
chmod +x "$work/orvane-standin"
standin=(-e "orvane_binary=$work/orvane-standin" -e orvane_scene=mysql_config -e orvane_conf_dir=/nonexistent
  -e '{"orvane_environment": {"ORVANE_STATE_DIR": "'"$work"'/standin/{{ inventory_hostname }}"}}')
while IFS='|' read -r mode expect_changed expect_journal expect_text; do
  playbook $mode --diff "${standin[@]}" "$src/deploy/ansible/profile.yml" </dev/null >"$work/profile.log" ||
    { cat "$work/profile.log"; fail "profile playbook ${mode:-run}"; }
  [ "$(recap_changed "$work/profile.log")" = "node1 $expect_changed"$'\n'"node2 $expect_changed" ] ||
    { cat "$work/profile.log"; fail "profile playbook ${mode:-run}: expected changed=$expect_changed"; }
  journals=$(find "$work/standin" -name 'profile-1.json' 2>/dev/null | wc -l || true)
  [ "$journals" = "$expect_journal" ] || fail "profile playbook ${mode:-run}: $journals journals, not $expect_journal"
  # Ansible shows the diff of a changed task only.
  [ -z "$expect_text" ] || grep -qz -- "$expect_text" "$work/profile.log" ||
    { cat "$work/profile.log"; fail "the diff lacks '$expect_text'"; }
done <<'TABLE'
--check|1|0|orvane answered N to: .*vm.swappiness 60 -> 1
|1|2|orvane answered Y to: .*applied: vm.swappiness = 1
|0|2|
--check|0|2|
TABLE

(cd "$src/deploy/ansible" && ansible-lint --offline analysis.yml profile.yml roles/orvane) >"$work/lint.log" 2>&1 ||
  { cat "$work/lint.log"; fail "ansible-lint"; }
echo "ansible role OK"
