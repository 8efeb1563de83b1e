#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the tree elsewhere, and checks that the
# program runs from there and that another CMake project builds against the package.
set -euo pipefail
build_dir="$1"
source_dir="$2"
consumer_flags=()
if [ "${3:-}" = "sanitize" ]; then
  # Libraries built with the sanitizers need their runtime in the program that loads them.
  consumer_flags=(-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined
                  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
prefix="$work/moved"

for lib in cmdfront nr_report scenevars tunepilot phaseclock orvane_common; do
  ls "$prefix"/lib/lib"$lib".so >/dev/null
done
test -f "$prefix/include/orvane/cmdfront.hpp"
for data in nrreport/orvane_report.html analysis/rules.yaml third_party/jquery/jquery-2.2.0.min.js \
    third_party/bootstrap/bootstrap-3.3.7.min.css third_party/bootstrap/bootstrap-3.3.7.min.js \
    third_party/Awesome/all.min.css; do
  test -s "$prefix/share/orvane/$data"
done
# Editable copies beside the defaults, the manual page and the bash completion.
test -s "$prefix/etc/orvane/analysis/rules.yaml"
test -s "$prefix/share/man/man8/orvane.8.gz"
test -s "$prefix/share/bash-completion/completions/orvane"

out=$(ORVANE_OS_RELEASE="$source_dir/examples/nerith-os-release" "$prefix/bin/orvane" -v)
test "$out" = "Orvane version is 1.2.2. "
# A command's module is found beside the moved libraries: the tuning module itself refuses the
# missing project file.
for module in report tuning; do
  test -f "$prefix/lib/orvane/$module.so"
done
err=$(ORVANE_OS_RELEASE="$source_dir/examples/nerith-os-release" \
  "$prefix/bin/orvane" tuning "$work/missing.yaml" 2>&1 >/dev/null || true)
case "$err" in
  *"tuning cannot start"*) ;;
  *) echo "the tuning module did not run: $err" >&2; exit 1 ;;
esac

cmake -S "$source_dir/tests/install/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" "${consumer_flags[@]}" >/dev/null
cmake --build "$work/consumer" >/dev/null
test "$("$work/consumer/consumer")" = "100"
echo "install tree OK"
