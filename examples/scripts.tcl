# scripts.tcl - text in the world's scripts. Each line is shaped and put
# in display order: Arabic joins and reads from the right with its
# number in order, Hebrew mirrors its brackets, Devanagari forms its
# conjuncts, Thai and decomposed Vietnamese keep their marks, and colour
# emoji (a skin tone, a flag, a ZWJ sequence) keep their own colours
# under a blue fill. A font's fallback chain reaches four fonts past it.
source [file join [file dirname [info script]] common.tcl]
set noto /usr/share/fonts/truetype/noto
font create emoji -file $noto/NotoColorEmoji.ttf
font create arabic -file $noto/NotoSansArabic-Regular.ttf
font create hebrew -file $noto/NotoSansHebrew-Regular.ttf -fallback arabic
font create rtl -fallback hebrew
font create deva -file $noto/NotoSansDevanagari-Regular.ttf
font create beng -file $noto/NotoSansBengali-Regular.ttf -fallback deva
font create thai -file $noto/NotoSansThai-Regular.ttf -fallback beng
font create indic -fallback thai
font create pictures -fallback emoji

canvas create board -layer scene -org {0 0.6 0} -colvec {8.4 0 0} -rowvec {0 -4.8 0} \
    -cols 84 -rows 48 -bg {0.95 0.93 0.88}
canvas add board text 82 2 -anchor colend -text "مرحبا بالعالم 2026" -font rtl -size {5 5} -fill {0.1 0.1 0.3}
canvas add board text 82 10 -anchor colend -text "שלום (עולם) 123" -font rtl -size {5 5} -fill {0.3 0.1 0.1}
canvas add board text 2 18 -anchor colstart -text "नमस्ते दुनिया · বাংলা" -font indic -size {5 5} -fill {0.1 0.3 0.1}
canvas add board text 2 26 -anchor colstart -text "ภาษาไทย · Tiếng Việt" -font indic -size {5 5} -fill {0.2 0.1 0.3}
canvas add board text 2 35 -anchor colstart -text "😀 👍🏽 🇩🇪 👩‍💻 🟥" -font pictures -size {9 9} -fill {0 0 1} \
    -bg {0.8 0.85 1}
finish
