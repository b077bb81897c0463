// A program that does nothing and exists only to carry resources, so that the
// resource check can be tried on a program of known content.
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
