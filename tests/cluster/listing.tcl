# listing.tcl FILE - writes the canvases of the scene this viewer
# attached to, each with its element ids and types in order.
set f [open [lindex $argv 0] w]
foreach c [canvas names] {
    puts $f "$c [canvas cget $c -node] [lmap id [canvas items $c] {list $id [canvas type $c $id]}]"
}
close $f
