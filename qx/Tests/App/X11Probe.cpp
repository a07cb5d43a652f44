#include "App/X11Probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

X11Probe::X11Probe() : m_Display(XOpenDisplay(nullptr)) {}

X11Probe::~X11Probe() {
    if (m_Display)
        XCloseDisplay(m_Display);
}

unsigned long X11Probe::FindShown(const std::string& title) const {
    if (!m_Display)
        return 0;
    Window root = DefaultRootWindow(m_Display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_Display, root, &root, &parent, &children, &count))
        return 0;
    const Atom netName = XInternAtom(m_Display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(m_Display, "UTF8_STRING", False);
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_Display, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_Display, children[i], netName, 0, 1024, False, utf8, &type,
                               &format, &items, &after, &data) == Success &&
            data) {
            if (title == std::string(reinterpret_cast<char*>(data), items))
                found = children[i];
            XFree(data);
        }
    }
    if (children)
        XFree(children);
    return found;
}

double X11Probe::PixelShare(unsigned long window,
                            const std::function<bool(uint32_t)>& match) const {
    XWindowAttributes attributes;
    if (!m_Display || !XGetWindowAttributes(m_Display, window, &attributes))
        return -1;
    XImage* image =
        XGetImage(m_Display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image)
        return -1;
    size_t hits = 0;
    for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x)
            if (match(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffffu))
                ++hits;
    XDestroyImage(image);
    return static_cast<double>(hits) / (static_cast<double>(attributes.width) * attributes.height);
}

void X11Probe::RequestClose(unsigned long window) const {
    if (!m_Display)
        return;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_Display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_Display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_Display, window, False, NoEventMask, &event);
    XFlush(m_Display);
}
