#!/usr/bin/env bash
# tools/check-layers on small trees of its own: a tree whose includes run down the
# layers (discovery's among them) passes; an include up a layer, one between sibling
# layers, a cycle between two folders of one layer and one between files each fail
# and name what is wrong, and so does an include of the library's private header
# that the build's include path lets another program write without its folder.
set -u
check="$1"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
failures=0

file() {  # file PATH [INCLUDED...]
    local path="$tree/$1"
    shift
    mkdir -p "$(dirname "$path")"
    : >"$path"
    for included in "$@"; do echo "#include \"$included\"" >>"$path"; done
}
expect() {  # expect RC PATTERN-OR-EMPTY WHAT [OPTION...]
    local out rc
    out="$(python3 "$check" --quiet --root "$tree" "${@:4}" 2>&1)"
    rc=$?
    if [ "$rc" -ne "$1" ] || { [ -n "$2" ] && ! grep -q -- "$2" <<<"$out"; }; then
        echo "FAILED: $3 (exit $rc, wanted $1)"
        echo "$out"
        failures=$((failures + 1))
    fi
}

file app/Trap.h
file app/platform/Platform.h
file deviceapi/Binding.h app/Trap.h
file redirect/Redirect.h deviceapi/Binding.h
file devices/RedirectList.cpp redirect/Redirect.h app/platform/Platform.h
file config/Document.cpp deviceapi/Binding.h
file windows/frmMain.h devices/RedirectList.cpp config/Document.cpp
expect 0 "" "includes that run down the layers"

file devices/Commands.cpp windows/frmMain.h
expect 1 "devices/Commands.cpp -> windows/frmMain.h (devices may not include windows)" "an include up to the windows"
rm "$tree/devices/Commands.cpp"

file config/Document.cpp devices/RedirectList.cpp
expect 1 "config may not include devices" "an include between sibling layers"
file config/Document.cpp deviceapi/Binding.h

file app/Trap.h app/platform/Platform.h
file app/platform/QtPlatform.cpp app/Log.h
file app/Log.h
expect 1 "include cycle between the folders app, app/platform" "a cycle between two folders of the core"
file app/Log.h app/platform/QtPlatform.cpp
expect 1 "include cycle between the files" "a cycle between files"
file app/platform/QtPlatform.cpp

# Discovery lies beneath the editor and beside the service, and includes neither.
file discovery/AdapterBrowser.h
file redirect/Offers.cpp discovery/AdapterBrowser.h
file service/Discover.cpp discovery/AdapterBrowser.h
expect 0 "" "the editor and the service on the discovery layer"
file discovery/AdapterBrowser.h redirect/Redirect.h
expect 1 "discovery may not include redirect" "discovery including the editor's layer"
file discovery/AdapterBrowser.h

file vspdevices/src/Library.h
file vspdevices/include/vspdevices.h
file service/Status.cpp vspdevices.h Library.h
expect 0 "" "a program's public include, and a name its include path resolves nowhere"
cat >"$tree/compile_commands.json" <<EOF
[{"directory": "$tree", "file": "$tree/service/Status.cpp",
  "command": "c++ -I$tree -I$tree/vspdevices/src -I$tree/vspdevices/include -c service/Status.cpp"}]
EOF
expect 1 "service/Status.cpp -> vspdevices/src/Library.h (private to the library: the service may not include it)" \
    "a private include across programs, by the build's include path" --build "$tree"

[ "$failures" -eq 0 ] && echo "check-layers: all cases passed"
exit "$failures"
