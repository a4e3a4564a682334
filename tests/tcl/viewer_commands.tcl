# viewer_commands.tcl - the viewer's Tcl commands: scripted scenes render
# as scripted, and bad input gets a Tcl error that leaves nothing behind.
source [file join [file dirname [info script]] lib.tcl]

check argv $argv {alpha beta}

channel create c1
viewport create v1 c1 -rect {0 0 80 60} -clear {0 0 1}
viewport create v2 c1 -rect {80 0 80 60} -clear {0 1 0} -off 1
node create box -shape box -size {3 3 3} -color {1 0 0}
frame
check_pixel "box at the centre of v1" 40 30 {255 0 0}
check_pixel "v1 corner" 2 2 {0 0 255}
check_pixel "switched-off v2 not drawn" 120 30 {0 0 0}
viewport configure v2 -off 0
node configure box -pos {100 0 0}
frame 2
check_pixel "v2 drawn once on" 120 30 {0 255 0}
check_pixel "box moved away" 40 30 {0 0 255}

check_error "wrong count" {channel} {wrong # args*}
check_error "duplicate channel" {channel create c1} {*already exists*}
check_error "unknown channel" {viewport create v3 nochan} {unknown channel*}
check_error "unknown option" {viewport configure v1 -bogus 1} {bad option "-bogus": must be -rect, -frac, -size,*}
foreach cmd {channel viewport node plugin scene} {
    catch {$cmd bogus x} msg opts
    check "$cmd bogus" [dict get $opts -errorcode] {TCL LOOKUP INDEX subcommand bogus}
    catch {$cmd} msg opts
    check "$cmd alone" [dict get $opts -errorcode] {TCL WRONGARGS}
}
check_error "option without value" {viewport configure v1 -eye} {*has no value*}
check_error "fraction outside" {viewport configure v1 -frac {0.5 0 0.6 1}} {-frac {x y w h} lies within the window*}
check_error "bad number" {viewport configure v1 -eye {1 x 3}} {*bad number "x"*}
check_error "bad frustum" {viewport configure v1 -frustum {1 -1 -1 1 1}} {*left < right*}
check_error "bad rect" {viewport create v3 c1 -rect {0 0 10}} {*4 integers*}
check "create returns the name" [viewport create v4 c1 -rect {0 0 10 10}] v4
check_error "half-made viewport" {viewport create v5 c1 -clear {2 0 0}} {*colour components*}
check_error "v5 not left behind" {viewport configure v5} {unknown viewport*}
check_error "bad shape" {node create n1 -shape cone} {bad shape "cone"*}
check "n1 not left behind" [lsearch [node names] n1] -1
check_error "unknown parent" {node create n2 -parent nobody} {unknown node "nobody"}
check_error "parent loop" {node create n3; node create n4 -parent n3; node configure n3 -parent n4} {*loop*}
check_error "bad frame count" {frame -1} {*negative*}
check_error "bad pixel" {pixel 1000 0} {*outside the window*}
check_error "bad plugin" {plugin load /nonexistent.so} {cannot load plugin*}
check_error "snapshot to nowhere" {snapshot /nonexistent-dir/a.png} {cannot write*}
internalpass 1
internalpass 0
check "host log has lines" [expr {[llength [hostlog]] > 0}] 1
hostlog -clear
check "host log cleared" [llength [hostlog]] 0
done
