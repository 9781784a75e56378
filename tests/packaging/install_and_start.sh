#!/usr/bin/env bash
# The installed program starts and finds its device library and its manual: once
# from a portable folder (cmake --install) and once from the Debian package,
# unpacked into a scratch root.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

check_folder() {
  for file in quorlinvcp libvspdevices.so QV3Manual2008.pdf quorlinvcp.png; do
    [ -e "$1/$file" ] || fail "$1/$file is missing"
  done
}

# Starts the program headless with a one-port configuration, waits for the port,
# then asks it to end as the system would.
start_installed() {
  local dir="$1" ports="$work/ports-$2"
  printf '{"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"7;0"}]}' \
    > "$work/one.qlc"
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=offscreen VSP_PORT_DIR="$ports" \
    "$dir/quorlinvcp" "$work/one.qlc" &
  local pid=$!
  for _ in $(seq 200); do [ -L "$ports/COM7" ] && break; sleep 0.05; done
  [ -L "$ports/COM7" ] || { kill -9 "$pid" || true; fail "the program in $dir did not bring up its port (library not found?)"; }
  kill -TERM "$pid"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null && { kill -9 "$pid"; fail "the program in $dir did not end on SIGTERM"; }
  wait "$pid" || fail "the program in $dir ended with an error"
  [ ! -e "$ports/COM7" ] || fail "the port outlived the program"
}

cmake --install "$build" --prefix "$work/portable" > /dev/null
check_folder "$work/portable"
start_installed "$work/portable" portable
[ ! -e "$work/portable/ErrorLog.txt" ] || fail "errors logged: $(cat "$work/portable/ErrorLog.txt")"

(cd "$build" && cpack -B "$work/package" > "$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack failed"; }
deb="$work/package/quorlinvcp_2.0.0_amd64.deb"
[ -f "$deb" ] || fail "no $deb"
dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6" || fail "the package does not depend on Qt"
dpkg-deb -f "$deb" Depends | grep -q "qt6-qpa-plugins" || fail "the package does not depend on the window system plugins"
dpkg-deb -x "$deb" "$work/root"
check_folder "$work/root/opt/quorlinvcp"
grep -q '^Path=/opt/quorlinvcp$' "$work/root/usr/share/applications/quorlinvcp.desktop" || fail "no menu entry"
start_installed "$work/root/opt/quorlinvcp" package
echo "installed program starts from the portable folder and from the package"
