#pragma once

#include <initializer_list>

typedef struct _XDisplay Display;

// The XInput 2 events a client gets on a window for a device (or XIAllDevices, XIAllMasterDevices):
// replaces that client's earlier selection for the same window and device. A 0 in the list (no event
// has that type) stands for nothing, so an optional event is `wanted ? type : 0`; nothing clears the
// selection. Only buffers the request. Thread-safety: the thread that uses `display`.
class X11RawEventSelection {
  public:
    static void select(Display* display, unsigned long window, int deviceId,
                       std::initializer_list<int> eventTypes);
};
