// Vigrel.exe: the monitor, always a service program with a hidden main form.
#include "app/mainserv_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return VigrelMain();
}
