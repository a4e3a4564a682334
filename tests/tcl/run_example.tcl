# run_example.tcl EXAMPLE OUT.png - runs an example as a user would, then
# probes its picture: a few pixels of what the example is meant to show
# (window coordinates, origin lower left), so that a blank or broken
# picture fails.
source [file join [file dirname [info script]] lib.tcl]
set probes {
    dome {{112 106 {255 204 51}} {199 79 {51 128 64}} {94 82 {51 127 63}}}
    facing {{244 139 {89 64 13}} {184 79 {26 51 76}} {250 103 {64 13 76}}}
    images {{60 140 {59 169 79}} {120 140 {209 85 38}} {140 140 {33 66 132}} {190 140 {149 69 169}}}
    layers {{118 172 {255 204 76}} {172 76 {204 51 51}} {190 100 {123 31 92}}}
    nested {{205 97 {198 227 248}} {238 106 {191 191 194}} {82 127 {202 194 140}}}
    node {{154 85 {242 230 204}} {127 103 {178 64 51}} {151 184 {26 76 153}}}
    overlays {{46 28 {210 134 48}} {82 22 {28 30 33}}}
    scripts {{192 108 {244 67 54}} {110 100 {204 217 255}} {62 108 {246 217 47}}}
    screen_aligned {{160 79 {153 153 153}} {190 67 {76 26 26}} {121 157 {4 4 5}}}
    screen_size {{4 76 {26 76 128}} {58 73 {128 51 26}}}
    shapes {{109 121 {204 102 230}} {238 97 {242 217 76}} {211 118 {76 178 255}}}
    switches {{79 166 {51 51 51}} {160 100 {26 26 36}}}
    unicode {{62 90 {255 217 204}} {104 130 {204 217 255}} {150 200 {242 237 224}}}
    video {{130 70 {160 40 40}} {55 91 {13 13 13}}}
    transport {{60 140 {40 140 40}} {170 140 {40 40 160}} {250 140 {40 40 160}}}
    window {{94 76 {153 153 178}} {184 124 {76 178 102}} {142 100 {217 64 51}}}
}
# Kept in a namespace of its own: the examples set globals freely.
namespace eval run_example {
    variable example [lindex $::argv 0]
    variable name [file rootname [file tail $example]]
    variable probes $::probes
}
set argv [lrange $argv 1 end]
set argv0 $run_example::example
source $run_example::example
foreach p [dict get $run_example::probes $run_example::name] {
    lassign $p x y rgb
    check_pixel "$run_example::name at $x $y" $x $y $rgb 3
}
done
