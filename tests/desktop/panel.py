#!/usr/bin/python3
# A top panel as desktops have one: a dock window along the top edge that reserves its height
# with a strut, so the window manager's work area starts below it. Runs until it is killed.
import sys

from Xlib import X, Xatom, display

height = int(sys.argv[1]) if len(sys.argv) > 1 else 32
d = display.Display()
screen = d.screen()
width = screen.width_in_pixels
w = screen.root.create_window(0, 0, width, height, 0, screen.root_depth,
                              background_pixel=screen.black_pixel,
                              event_mask=X.StructureNotifyMask)
w.set_wm_name("test panel")
w.change_property(d.intern_atom("_NET_WM_WINDOW_TYPE"), Xatom.ATOM, 32,
                  [d.intern_atom("_NET_WM_WINDOW_TYPE_DOCK")])
w.change_property(d.intern_atom("_NET_WM_STRUT"), Xatom.CARDINAL, 32, [0, 0, height, 0])
w.change_property(d.intern_atom("_NET_WM_STRUT_PARTIAL"), Xatom.CARDINAL, 32,
                  [0, 0, height, 0, 0, 0, 0, 0, 0, width - 1, 0, 0])
w.map()
d.flush()
print("panel up", flush=True)
while True:
    d.next_event()
