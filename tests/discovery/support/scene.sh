#!/usr/bin/env bash
# A network of the test's own where ser2net advertises ports over mDNS:
#   scene.sh WORK [BUS]
# In a network and mount namespace of its own (with a user namespace when not run
# as root), it gives a dummy interface (a veth pair where the kernel has no dummy
# driver) 192.0.2.1, starts a D-Bus system bus at WORK/bus, an avahi-daemon on it
# that speaks mDNS on that interface only, a socat pseudo-terminal pair as the
# serial device, and ser2net advertising three connections (plain, with a USB
# device's TXT entries, and over TLS). The bus is a socket in the file system (BUS,
# by default WORK/bus), so a program outside the namespace reaches this Avahi with
# DBUS_SYSTEM_BUS_ADDRESS=unix:path=BUS. WORK/ready appears when all runs;
# the scene lasts until SIGTERM. Exit 77, WORK/skip saying why: no namespace can be
# made here (in a chroot: a plain user's user namespace fails, and root's mount
# namespace cannot make the chroot's root private), or avahi-daemon
# cannot run in a plain user's namespace (it wants its folder owned by the avahi
# user, whom such a namespace cannot map). As root all of it runs.
set -u
work="$1"
bus="${2:-$work/bus}"
if [ -z "${QVCP_SCENE_INSIDE:-}" ]; then
    export QVCP_SCENE_INSIDE=1 QVCP_SCENE_USER="$(id -un)"
    if [ "$(id -u)" -eq 0 ]; then namespaces=(-n -m); else namespaces=(-r -n -m); fi
    if ! unshare "${namespaces[@]}" true 2>"$work/skip"; then
        echo "no network namespace can be made here (unshare ${namespaces[*]}: $(cat "$work/skip"))" >"$work/skip"
        exit 77
    fi
    rm -f "$work/skip"
    exec unshare "${namespaces[@]}" bash "$0" "$@"
fi
set -e
children=()
stop() {
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait
    exit "${1:-0}"
}
trap stop TERM INT
cd "$work"

ip link set lo up
if ! ip link add d0 type dummy 2>/dev/null; then
    ip link add d0 type veth peer name d1
    ip link set d1 up
fi
ip link set d0 multicast on up
ip addr add 192.0.2.1/24 dev d0
# avahi-daemon keeps its pid file and socket under /run: a /run of the scene's own.
mount -t tmpfs tmpfs /run

cat >bus.conf <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$bus</listen>
  <auth>EXTERNAL</auth>
  <auth>ANONYMOUS</auth>
  <allow_anonymous/>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat >avahi.conf <<CONF
[server]
host-name=qvcp-box
allow-interfaces=d0
use-ipv4=yes
use-ipv6=yes
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=qvcp-box -days 1 -keyout key.pem -out cert.pem 2>/dev/null
cat >ser2net.yaml <<CONF
connection: &bench
  accepter: telnet(rfc2217),tcp,3001
  connector: serialdev,$work/dev,9600n81,local
  options:
    mdns: true
    mdns-name: lab bench
connection: &probe
  accepter: telnet(rfc2217),tcp,3002
  connector: serialdev,$work/dev,9600n81,local
  options:
    mdns: true
    mdns-name: usb probe
    mdns-txt: devicetype=serialusb
    mdns-txt: idVendor=0403
    mdns-txt: idProduct=6001
    mdns-txt: product=FT232R USB UART
    mdns-txt: serial=A10K3XYZ
connection: &secure
  accepter: telnet(rfc2217),ssl(key=$work/key.pem,cert=$work/cert.pem),tcp,3003
  connector: serialdev,$work/dev,9600n81,local
  options:
    mdns: true
    mdns-name: secure line
CONF

export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus"
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >dbus.log 2>&1 &
children+=($!)
for _ in $(seq 100); do [ -S "$bus" ] && break; sleep 0.05; done
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title >avahi.log 2>&1 &
children+=($!)
for _ in $(seq 200); do
    grep -q "Server startup complete" avahi.log && break
    if ! kill -0 "${children[-1]}" 2>/dev/null; then
        if [ "$QVCP_SCENE_USER" = root ]; then
            echo "avahi-daemon ended: $(cat avahi.log)" >&2
            stop 1
        fi
        echo "avahi-daemon cannot run in the namespace of the plain user $QVCP_SCENE_USER (run the test as root): $(tail -n 1 avahi.log)" >skip
        stop 77
    fi
    sleep 0.05
done
socat pty,raw,echo=0,link="$work/dev" pty,raw,echo=0,link="$work/device" >socat.log 2>&1 &
children+=($!)
for _ in $(seq 100); do [ -e dev ] && break; sleep 0.05; done
ser2net -d -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >ser2net.log 2>&1 &
children+=($!)
touch ready
wait
