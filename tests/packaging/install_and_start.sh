#!/usr/bin/env bash
# The installed program starts and finds its device library and its manual: once
# from a portable folder (cmake --install) and once from the Debian package,
# unpacked into a scratch root. The portable program keeps its files beside itself,
# the packaged one in the user's folder even where it could write its own. On purge
# the package removes the machine-wide autostart entry of its program, nothing else.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A runtime folder of this run's own holds the program's one-instance lock, so a
# QuorlinVCP already running for this user does not stop the started ones.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

fail() { echo "FAIL: $*" >&2; exit 1; }

check_folder() {
  for file in quorlinvcp libvspdevices.so QV3Manual2008.pdf quorlinvcp.png quorlinvcp-run libquorlinvcp-preload.so quorlinvcp-service; do
    [ -e "$1/$file" ] || fail "$1/$file is missing"
  done
}

# Starts the program headless with a one-port configuration, waits for the port,
# then asks it to end as the system would.
start_installed() {
  local dir="$1" ports="$work/ports-$2" home="$work/home-$2"
  printf '{"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"7;0"}]}' \
    > "$work/one.qlc"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=offscreen VSP_PORT_DIR="$ports" \
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

# The runner brings the same port up without a display and removes it on SIGTERM.
start_runner() {
  local dir="$1" ports="$work/runner-ports-$2"
  env -u DISPLAY -u WAYLAND_DISPLAY VSP_PORT_DIR="$ports" "$dir/quorlinvcp-service" "$work/one.qlc" 2> "$work/runner-$2.log" &
  local pid=$!
  for _ in $(seq 200); do [ -L "$ports/COM7" ] && break; sleep 0.05; done
  [ -L "$ports/COM7" ] || { kill -9 "$pid" || true; cat "$work/runner-$2.log"; fail "the runner in $dir did not bring up its port"; }
  kill -TERM "$pid"
  wait "$pid" || fail "the runner in $dir ended with an error: $(cat "$work/runner-$2.log")"
  [ ! -e "$ports/COM7" ] || fail "the port outlived the runner"
}

cmake --install "$build" --prefix "$work/portable" > /dev/null
check_folder "$work/portable"
start_installed "$work/portable" portable
start_runner "$work/portable" portable
[ ! -e "$work/portable/ErrorLog.txt" ] || fail "errors logged: $(cat "$work/portable/ErrorLog.txt")"
[ -f "$work/portable/Settings.ini" ] || fail "the portable program kept no settings beside itself"
[ ! -e "$work/home-portable/.config/QuorlinVCP" ] || fail "the portable program wrote into the user's folder"
[ ! -e "$work/portable/quorlinvcp.package" ] || fail "the portable folder carries the package's marker"
# The launcher preloads the library beside it, after the user's own and only once.
preload="$work/portable/libquorlinvcp-preload.so"
[ "$("$work/portable/quorlinvcp-run" printenv LD_PRELOAD)" = "$preload" ] || fail "the launcher does not preload its library"
[ "$(LD_PRELOAD="$preload" "$work/portable/quorlinvcp-run" printenv LD_PRELOAD)" = "$preload" ] \
  || fail "the launcher preloads its library twice"

(cd "$build" && cpack -B "$work/package" > "$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack failed"; }
deb="$work/package/quorlinvcp_2.0.0_amd64.deb"
[ -f "$deb" ] || fail "no $deb"
dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6" || fail "the package does not depend on Qt"
dpkg-deb -f "$deb" Depends | grep -q "qt6-qpa-plugins" || fail "the package does not depend on the window system plugins"
dpkg-deb -f "$deb" Depends | grep -q "fonts-dejavu-extra" || fail "the package does not depend on the condensed font"
dpkg-deb -x "$deb" "$work/root"
check_folder "$work/root/opt/quorlinvcp"
grep -q '^Path=/opt/quorlinvcp$' "$work/root/usr/share/applications/quorlinvcp.desktop" || fail "no menu entry"
[ "$(readlink "$work/root/usr/bin/quorlinvcp-run")" = /opt/quorlinvcp/quorlinvcp-run ] || fail "the launcher is not on the PATH"
[ "$(readlink "$work/root/usr/bin/quorlinvcp-service")" = /opt/quorlinvcp/quorlinvcp-service ] || fail "the runner is not on the PATH"
[ -f "$work/root/usr/lib/systemd/user/quorlinvcp@.service" ] || fail "no systemd user unit"
chmod u+w "$work/root/opt/quorlinvcp"  # writable, as for root: the marker alone keeps the program out
start_installed "$work/root/opt/quorlinvcp" package
start_runner "$work/root/opt/quorlinvcp" package
for file in Settings.ini ErrorLog.txt Untitled.qlc; do
  [ ! -e "$work/root/opt/quorlinvcp/$file" ] || fail "the packaged program wrote $file into its installation folder"
done
[ -f "$work/home-package/.config/QuorlinVCP/Settings.ini" ] || fail "the packaged program kept no settings in the user's folder"

# The maintainer script on purge, in the scratch root (dpkg passes it as DPKG_ROOT).
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postrm" ] || fail "the package has no postrm"
autostart="$work/root/etc/xdg/autostart"
mkdir -p "$autostart"
entry() { printf '[Desktop Entry]\nType=Application\nName=QuorlinVCP\nExec=%s\n' "$1" > "$autostart/QuorlinVCP.desktop"; }
postrm() { DPKG_ROOT="$work/root" "$work/control/postrm" "$1" || fail "postrm $1 failed"; }
entry /opt/quorlinvcp/quorlinvcp
postrm remove
[ -e "$autostart/QuorlinVCP.desktop" ] || fail "a plain remove took the autostart entry"
postrm purge
[ ! -e "$autostart/QuorlinVCP.desktop" ] || fail "purge left the program's autostart entry"
postrm purge  # nothing there: still fine
entry /home/u/quorlinvcp/quorlinvcp
postrm purge
[ -e "$autostart/QuorlinVCP.desktop" ] || fail "purge took an autostart entry of another copy of the program"
echo "installed program starts from the portable folder and from the package; purge removes its autostart entry"
