#include "platform/x11/X11RawEventSelection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

void X11RawEventSelection::select(Display* display, unsigned long window, int deviceId,
                                  std::initializer_list<int> eventTypes) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (const int type : eventTypes)
        if (type > 0)
            XISetMask(bits, type);
    XIEventMask mask;
    mask.deviceid = deviceId;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, window, &mask, 1);
}
