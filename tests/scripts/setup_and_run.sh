#!/usr/bin/env bash
# The two commands' first steps on a machine that lacks things: scripts/setup as a
# user without sudo names the command for root instead of failing on sudo, and
# scripts/run without a display says so before it sets up or builds anything.
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A PATH with only what the script needs, a user that is not root, and no package
# installed; sudo is nowhere on it.
mkdir "$work/bin"
for tool in bash env grep; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
printf '#!%s\necho 1000\n' "$(command -v bash)" > "$work/bin/id"
printf '#!%s\ntouch "%s/setup-ran"; exit 1\n' "$(command -v bash)" "$work" > "$work/bin/dpkg-query"
chmod 755 "$work/bin/id" "$work/bin/dpkg-query"

set +e
PATH="$work/bin" "$root/scripts/setup" > "$work/setup.out" 2>&1
rc=$?
set -e
[ "$rc" -ne 0 ] || fail "setup reported success without installing"
grep -q 'sudo: command not found\|sudo: not found' "$work/setup.out" && fail "setup tried sudo: $(cat "$work/setup.out")"
grep -q '^  apt-get update && apt-get install -y --no-install-recommends build-essential .*fonts-dejavu-extra' \
  "$work/setup.out" || fail "setup did not name the command for root: $(cat "$work/setup.out")"
rm -f "$work/setup-ran"

set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$work/bin:$PATH" QVCP_BUILD_DIR="$work/build" \
  "$root/scripts/run" > "$work/run.out" 2>&1
rc=$?
set -e
[ "$rc" -ne 0 ] || fail "run went ahead without a display"
[ ! -e "$work/setup-ran" ] || fail "run set up before it checked for a display"
[ ! -e "$work/build" ] || fail "run built before it checked for a display"
grep -q -- 'scripts/run --virtual-display' "$work/run.out" || fail "run did not offer the virtual display: $(cat "$work/run.out")"
echo "setup names the command for root; run checks for a display first"
