#!/usr/bin/env bash
# The installed program starts and finds its device library and its manual in both
# layouts: a portable folder (cmake --install), moved elsewhere after installing,
# and the Debian package, installed by dpkg into a scratch root. The portable
# program keeps its files beside itself, the packaged one in the user's folder and
# nothing under its root. The package passes lintian; its AppStream data, menu entry
# and file type validate; purge leaves nothing of it behind.
#   install_and_start.sh BUILD SOURCE [lintian|skip-lintian]
set -euo pipefail
build="$1"
source="$2"
lintian="${3:-lintian}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export PATH="$PATH:/usr/sbin:/sbin"  # dpkg looks for ldconfig
# A runtime folder of this run's own holds the program's one-instance lock, so a
# QuorlinVCP already running for this user does not stop the started ones.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

fail() { echo "FAIL: $*" >&2; exit 1; }

# A one-port configuration, in a folder with a blank, as a file manager passes it.
mkdir "$work/lab files"
config="$work/lab files/my lab.qlc"
printf '{"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"7;0"}]}' > "$config"

# Starts the program headless with the configuration as its one argument, waits for
# the port, then asks it to end as the system would.
start_installed() {
  local program="$1" ports="$work/ports-$2" home="$work/home-$2"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=offscreen VSP_PORT_DIR="$ports" \
    "$program" "$config" &
  local pid=$!
  for _ in $(seq 200); do [ -L "$ports/COM7" ] && break; sleep 0.05; done
  [ -L "$ports/COM7" ] || { kill -9 "$pid" || true; fail "$program did not bring up its port (library or file not found?)"; }
  kill -TERM "$pid"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null && { kill -9 "$pid"; fail "$program did not end on SIGTERM"; }
  wait "$pid" || fail "$program ended with an error"
  [ ! -e "$ports/COM7" ] || fail "the port outlived the program"
}

# The launcher preloads its own library, after the user's and only once.
check_launcher() {
  local launcher="$1" library="$2"
  [ "$("$launcher" printenv LD_PRELOAD)" = "$library" ] || fail "$launcher does not preload $library"
  [ "$(LD_PRELOAD="$library" "$launcher" printenv LD_PRELOAD)" = "$library" ] \
    || fail "$launcher preloads its library twice"
}

# The runner brings the same port up without a display and removes it on SIGTERM.
start_runner() {
  local runner="$1" ports="$work/runner-ports-$2"
  env -u DISPLAY -u WAYLAND_DISPLAY VSP_PORT_DIR="$ports" "$runner" "$config" 2> "$work/runner-$2.log" &
  local pid=$!
  for _ in $(seq 200); do [ -L "$ports/COM7" ] && break; sleep 0.05; done
  [ -L "$ports/COM7" ] || { kill -9 "$pid" || true; cat "$work/runner-$2.log"; fail "$runner did not bring up its port"; }
  kill -TERM "$pid"
  wait "$pid" || fail "$runner ended with an error: $(cat "$work/runner-$2.log")"
  [ ! -e "$ports/COM7" ] || fail "the port outlived the runner"
}

## The portable folder, moved after installing.
cmake --install "$build" --prefix "$work/installed" > /dev/null
mkdir "$work/elsewhere"
mv "$work/installed" "$work/elsewhere/quorlinvcp"
portable="$work/elsewhere/quorlinvcp"
for file in quorlinvcp libvspdevices.so QV3Manual2008.pdf quorlinvcp.png quorlinvcp-run libquorlinvcp-preload.so quorlinvcp-service; do
  [ -e "$portable/$file" ] || fail "the portable folder lacks $file"
done
[ ! -e "$portable/bin" ] && [ ! -e "$portable/share" ] || fail "the portable folder holds the system layout too"
start_installed "$portable/quorlinvcp" portable
[ ! -e "$portable/ErrorLog.txt" ] || fail "errors logged: $(cat "$portable/ErrorLog.txt")"
[ -f "$portable/Settings.ini" ] || fail "the portable program kept no settings beside itself"
grep -q "my lab.qlc" "$portable/Settings.ini" || fail "the portable program did not take the file named on its command line"
[ ! -e "$work/home-portable/.config/QuorlinVCP" ] || fail "the portable program wrote into the user's folder"
check_launcher "$portable/quorlinvcp-run" "$portable/libquorlinvcp-preload.so"
start_runner "$portable/quorlinvcp-service" portable

## The Debian package.
deb="$("$source/packaging/build-deb" "$build" "$work/package" 2> "$work/build-deb.log")" \
  || { cat "$work/build-deb.log"; fail "packaging/build-deb failed"; }
if [ "$lintian" = lintian ]; then
  lintian --fail-on error,warning --pedantic -I "$deb" > "$work/lintian.log" 2>&1 \
    || { cat "$work/lintian.log"; fail "lintian finds fault with the package"; }
  # Even its information tags find every program built with Debian's hardening.
  ! grep -E '^[EWIP]: .*hardening-' "$work/lintian.log" \
    || fail "the programs lack some of Debian's hardening (lintian's hardening tags above)"
fi
depends="$(dpkg-deb -f "$deb" Depends)"
for dependency in libqt6widgets6 qt6-qpa-plugins fonts-dejavu-extra; do
  grep -q "$dependency" <<< "$depends" || fail "the package does not depend on $dependency"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = xdg-utils ] || fail "the package does not recommend xdg-utils"

# Installed by dpkg into a scratch root, without its dependencies (the machine has them).
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
scratch_dpkg() { dpkg --root="$root" --force-not-root --force-script-chrootless "$@" > "$work/dpkg.log" 2>&1 \
  || { cat "$work/dpkg.log"; fail "dpkg $* failed"; }; }
scratch_dpkg --force-depends --install "$deb"
usr="$root/usr"
for file in bin/quorlinvcp bin/quorlinvcp-run bin/quorlinvcp-service lib/systemd/user/quorlinvcp@.service lib/quorlinvcp/libvspdevices.so lib/quorlinvcp/libquorlinvcp-preload.so \
            share/doc/quorlinvcp/QV3Manual2008.pdf share/doc/quorlinvcp/copyright share/doc/quorlinvcp/changelog.gz \
            share/icons/hicolor/scalable/apps/quorlinvcp.svg; do
  [ -e "$usr/$file" ] || fail "the package lacks /usr/$file"
done
for size in 16 32 48 64 128 256; do
  [ "$(file -b "$usr/share/icons/hicolor/${size}x${size}/apps/quorlinvcp.png")" = \
    "PNG image data, $size x $size, 8-bit/color RGBA, non-interlaced" ] || fail "no $size-pixel icon"
done
for command in "$usr"/bin/*; do
  [ -f "$usr/share/man/man1/$(basename "$command").1.gz" ] || fail "$(basename "$command") has no man page"
done

# The menu entry, the file type and the AppStream data agree and validate.
desktop="$usr/share/applications/quorlinvcp.desktop"
desktop-file-validate "$desktop" || fail "the menu entry does not validate"
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml > "$work/appstream.log" 2>&1 \
  || { cat "$work/appstream.log"; fail "the AppStream data does not validate"; }
grep -qx 'Exec=quorlinvcp %f' "$desktop" && grep -qx 'Icon=quorlinvcp' "$desktop" || fail "the menu entry starts no file"
type="$(sed -n 's/^MimeType=\([^;]*\);$/\1/p' "$desktop")"
cp -r "$usr/share/mime" "$work/mime"
update-mime-database "$work/mime" > /dev/null 2>&1 || fail "the file type does not load"
grep -qx "50:$type:\*.qlc" "$work/mime/globs2" || fail "no file type $type for *.qlc"

# The program, the launcher and the runner start from the package; nothing is written under
# the root, the user's files go to the user's folder.
find "$root" -path "$root/var/lib/dpkg" -prune -o -print | sort > "$work/before"
start_installed "$usr/bin/quorlinvcp" package
check_launcher "$usr/bin/quorlinvcp-run" "$usr/lib/quorlinvcp/libquorlinvcp-preload.so"
"$usr/bin/quorlinvcp-service" --help > /dev/null || fail "the runner does not start"
start_runner "$usr/bin/quorlinvcp-service" package
find "$root" -path "$root/var/lib/dpkg" -prune -o -print | sort > "$work/after"
diff "$work/before" "$work/after" || fail "the packaged programs wrote under their root"
[ -f "$work/home-package/.config/QuorlinVCP/Settings.ini" ] || fail "the packaged program kept no settings in the user's folder"
[ ! -e "$work/home-package/.config/QuorlinVCP/ErrorLog.txt" ] \
  || fail "errors logged: $(cat "$work/home-package/.config/QuorlinVCP/ErrorLog.txt")"

# Remove keeps the machine-wide autostart entry the program made; purge takes it and
# leaves nothing of the package.
autostart="$root/etc/xdg/autostart"
mkdir -p "$autostart"
entry() { printf '[Desktop Entry]\nType=Application\nName=QuorlinVCP\nExec=%s\n' "$1" > "$autostart/QuorlinVCP.desktop"; }
entry /usr/bin/quorlinvcp
scratch_dpkg --remove quorlinvcp
[ -e "$autostart/QuorlinVCP.desktop" ] || fail "a plain remove took the autostart entry"
scratch_dpkg --purge quorlinvcp
left="$(find "$root" -path "$root/var/lib/dpkg" -prune -o \( -type f -o -type l \) -print)"
[ -z "$left" ] || fail "purge left $left"
[ -f "$work/home-package/.config/QuorlinVCP/Settings.ini" ] || fail "purge took the user's files"

# The entry is the package's only when it starts the package's program.
dpkg-deb -e "$deb" "$work/control"
postrm() { DPKG_ROOT="$root" "$work/control/postrm" "$1" || fail "postrm $1 failed"; }
for own in '"/usr/bin/quorlinvcp"' /opt/quorlinvcp/quorlinvcp; do
  entry "$own"
  postrm purge
  [ ! -e "$autostart/QuorlinVCP.desktop" ] || fail "purge left the autostart entry of $own"
done
postrm purge  # nothing there: still fine
for other in /home/u/quorlinvcp/quorlinvcp /usr/bin/quorlinvcp-run; do
  entry "$other"
  postrm purge
  [ -e "$autostart/QuorlinVCP.desktop" ] || fail "purge took an autostart entry of $other"
done
echo "the program starts from a moved portable folder and from the package; the package is lintian-clean; purge leaves nothing"
