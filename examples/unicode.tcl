# unicode.tcl - text in every language. Text is UTF-8: Latin with
# accents, Greek and Cyrillic come from the default font's face on first
# use; Chinese comes from a CJK font named as the fallback of a Latin
# one, so one text mixes both. Kerning pairs from the face are on by
# default (the upper "AVATAR"); -kerning 0 turns them off (the lower).
source [file join [file dirname [info script]] common.tcl]
set cjk /usr/share/fonts/truetype/wqy/wqy-microhei.ttc
font create cjk -file $cjk
font create latin -fallback cjk
font create plain -kerning 0

canvas create board -layer scene -org {0 0.6 0} -colvec {8.4 0 0} -rowvec {0 -4.8 0} \
    -cols 84 -rows 48 -bg {0.95 0.93 0.88}
canvas add board text 42 5 -text "Grüße, Καλημέρα, Привет, 你好" -font latin -size {4.5 4.5} -fill {0.1 0.1 0.3}
canvas add board text 42 13 -text "café · Wörld · naïve · Ελλάδα" -size {3.5 3.5} -fill {0.5 0.1 0.1}
canvas add board text 42 20 -text "東京 · 北京 · 上海" -font latin -size {4 4} -fill {0.1 0.4 0.2}
canvas add board text 4 29 -text "AVATAR" -anchor colstart -size {6 6} -fill {0 0 0} -bg {0.8 0.85 1}
canvas add board text 4 39 -text "AVATAR" -anchor colstart -font plain -size {6 6} -fill {0 0 0} -bg {1 0.85 0.8}
canvas add board text 62 34 -text "Ωmega\nΨ\tψ" -size {4 4} -fill {0.3 0 0.4}
finish
