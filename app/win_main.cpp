// The program's entry point; everything it does is in RunUpdater, which host
// tests link without this file.
#include "app/run_sequence.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunUpdater(); }
