#!/bin/bash
# check_install.sh BUILD SOURCE - installs BUILD into a fresh prefix and
# uses it as a user would: a producer built with pkg-config and one with
# find_package, the installed viewer (finding the installed plugin by
# itself) rendering an example from another folder, the Tcl package from
# tclsh; then the .deb that
# cpack makes, by its file list and its dependencies.
set -euo pipefail
build=$(readlink -f "$1") src=$(readlink -f "$2")
t=$(mktemp -d /tmp/qvp-install.XXXXXX)
trap 'rm -rf "$t"' EXIT
step() { echo "install: $*"; }

step "cmake --install into $t/prefix"
cmake --install "$build" --prefix "$t/prefix" > "$t/install.log"
pc=$(find "$t/prefix" -name qvpcanvas.pc)
libdir=$(dirname "$(dirname "$pc")")

step "a producer built with pkg-config"
export PKG_CONFIG_PATH=$(dirname "$pc")
# shellcheck disable=SC2046
g++ -std=c++17 "$src/tests/install/producer.cpp" $(pkg-config --cflags --libs qvpcanvas) -Wl,-rpath,"$libdir" -o "$t/p1"
"$t/p1" "qvp-inst-pc-$$" | grep -q "producer: 1 canvas"

step "a producer built with find_package(qvpcanvas)"
cmake -S "$src/tests/install" -B "$t/b" -DCMAKE_PREFIX_PATH="$t/prefix" > "$t/cmake.log"
cmake --build "$t/b" > "$t/build.log"
"$t/b/producer" "qvp-inst-cm-$$" | grep -q "producer: 1 canvas"

step "the installed viewer, from another folder"
mkdir "$t/elsewhere"
cd "$t/elsewhere"
echo 'puts $qvp_plugin' > where.tcl
plugin=$("$t/prefix/bin/qvp_viewer" -size 32x32 where.tcl)
[ "$(readlink -f "$plugin")" = "$(readlink -f "$libdir/qvp/qvp_drawcanvas.so")" ] || { echo "install: the viewer loads $plugin"; exit 1; }
"$t/prefix/bin/qvp_viewer" -size 160x120 "$t/prefix/share/qvp/examples/shapes.tcl" "$t/elsewhere/shapes.png" > /dev/null
[ -s "$t/elsewhere/shapes.png" ]

step "the Tcl package, from tclsh"
echo 'puts [package require qvpcanvas]' | TCLLIBPATH="$libdir/tcltk" tclsh8.6 | grep -qx "1.0"

step "cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$t/deb" > "$t/cpack.log") || { cat "$t/cpack.log"; exit 1; }
deb=$(ls "$t"/deb/*.deb)
dpkg-deb -c "$deb" > "$t/files"
for f in ./usr/bin/qvp_viewer ./usr/bin/qvp_mirror ./usr/lib/qvp/qvp_drawcanvas.so ./usr/lib/libqvpcanvas.so.1 \
         ./usr/lib/pkgconfig/qvpcanvas.pc ./usr/lib/cmake/qvpcanvas/qvpcanvasConfig.cmake ./usr/include/qvp/canvas_builder.h \
         ./usr/share/qvp/examples/common.tcl ./usr/lib/tcltk/qvpcanvas/pkgIndex.tcl ./usr/lib/tcltk/qvpcanvas/libqvpcanvastcl.so; do
    grep -q " $f\$\| $f -> " "$t/files" || { echo "install: $f is not in the .deb"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libtcl8.6 libfreetype6 libavcodec; do
    case "$depends" in *"$d"*) ;; *) echo "install: the .deb does not depend on $d: $depends"; exit 1 ;; esac
done
step "ok ($(basename "$deb"))"
