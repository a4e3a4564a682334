# edit.tcl - run by a second viewer on the window test's scene: turns the
# overlay's background blue.
canvas configure panel -bg {0 0 1}
