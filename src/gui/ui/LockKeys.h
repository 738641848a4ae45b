#pragma once

// State of the keyboard's lock keys, for the status bar's indicators. All false where the
// platform does not tell (offscreen, Wayland without X).
struct LockKeyState
{
    bool bCaps = false;
    bool bNum = false;
    bool bScroll = false;
};
LockKeyState QueryLockKeys();
