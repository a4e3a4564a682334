# check.tcl PLUGIN - attaches after a kill: walks every canvas and
# element, renders a frame, checks that the fixed canvases read as their
# editor wrote them, and prints "ok" and how many it walked.
# Whatever goes wrong is said on stdout, for the soak's report.
if {[catch {plugin load [lindex $argv 0]} msg]} { puts "plugin load: $msg"; exit 1 }
viewport create v [channel create main]
set items 0
# The editor goes on meanwhile: a canvas or element gone between two
# queries is normal, a hang or a crash is not.
foreach c [canvas names] {
    if {[catch {canvas items $c} ids]} continue
    foreach id $ids {
        if {![catch {canvas type $c $id}]} { incr items }
    }
}
frame
source [file join [file dirname [info script]] fixed.tcl]
set diffs [fixed_differences]
if {$diffs ne ""} { puts "records rewritten: $diffs"; exit 1 }
puts "ok [llength [canvas names]] $items"
