#!/usr/bin/env bash
# The systemd user unit passes `systemd-analyze verify` without a warning, as an
# instance (quorlinvcp@lab) whose ExecStart names the runner just built (the unit
# names its installed path). Skipped (77) where systemd-analyze is missing.
# Usage: verify_user_unit.sh UNIT_FILE RUNNER
set -uo pipefail
unit="$1" runner="$2"
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is missing: skipped"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
grep -q '^ExecStart=/usr/bin/quorlinvcp-service %i$' "$unit" || { echo "FAIL: ExecStart does not run the installed runner with the instance"; exit 1; }
sed "s|^ExecStart=/usr/bin/quorlinvcp-service |ExecStart=$runner |" "$unit" > "$work/quorlinvcp@lab.service"
mkdir -m 700 "$work/runtime"
# --man=no: the manual page is installed with the package, not here.
out="$(cd "$work" && XDG_RUNTIME_DIR="$work/runtime" systemd-analyze verify --user --man=no ./quorlinvcp@lab.service 2>&1)"
rc=$?
echo "$out"
[ $rc -eq 0 ] || { echo "FAIL: systemd-analyze verify exited with $rc"; exit 1; }
[ -z "$out" ] || { echo "FAIL: systemd-analyze verify warned"; exit 1; }
echo "systemd-analyze verify: clean"
