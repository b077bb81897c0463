// The floor for the updater's start under Wine: a program that does nothing
// but show one message box, with the updater's caption.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return MessageBoxA(nullptr, "x", "Orvale", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
}
