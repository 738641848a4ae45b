#include "LockKeys.h"

#include <QGuiApplication>

#include <dlfcn.h>

// On X11 the indicator state comes from XKB. libX11 is loaded at run time, so the program
// neither links it nor needs it on other platforms.
LockKeyState QueryLockKeys()
{
    LockKeyState state;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display())
        return state;
    using Fn = int (*)(void*, unsigned int, unsigned int*);
    static Fn fn = [] {
        void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
        return lib ? reinterpret_cast<Fn>(dlsym(lib, "XkbGetIndicatorState")) : nullptr;
    }();
    if (!fn)
        return state;
    unsigned int nBits = 0;
    constexpr unsigned int kUseCoreKbd = 0x0100;
    if (fn(x11->display(), kUseCoreKbd, &nBits) != 0)
        return state;
    state.bCaps = nBits & 0x1;
    state.bNum = nBits & 0x2;
    state.bScroll = nBits & 0x4;
    return state;
}
