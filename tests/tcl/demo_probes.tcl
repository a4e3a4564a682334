# demo_probes.tcl - the built-in demo as the viewer renders it (640 x 480),
# probed where each of its parts should show (window coordinates, origin
# lower left): a blank or broken demo fails.
source [file join [file dirname [info script]] lib.tcl]
demo
frame
foreach {what x y rgb} {
    "channel HUD, black at 0.6 over the clear colour" 165 455 {8 9 12}
    "left viewport's label" 12 16 {38 76 128}
    "right viewport's label" 332 16 {38 76 128}
    "red rectangle on the shapes board" 50 362 {230 76 51}
    "concave polygon on the shapes board" 112 345 {51 204 178}
    "the image's white arrow" 137 363 {255 255 255}
    "the video's pattern, frame 12" 168 340 {40 40 160}
    "the gem seen through its window" 62 190 {204 76 230}
    "the curved banner" 193 379 {25 63 76}
    "the ball, right viewport" 504 206 {51 153 230}
} {
    check_pixel $what $x $y $rgb 3
}
done
