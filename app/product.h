// Names that tie the updater to the game it updates. All are code page 932
// byte strings, used exactly as written: the other programs of the game look
// for the same names.
#ifndef APP_PRODUCT_H
#define APP_PRODUCT_H

// The product name is also the caption of every message box.
extern const char PRODUCT_NAME[];
extern const char MAKER_NAME[];

// Held by a running updater, so that a second copy stops at once.
extern const char UPDATER_MUTEX_NAME[];
// Held by the game, its launcher and its uninstaller while they run; the
// updater holds it too, so that none of them starts during an update.
extern const char GAME_MUTEX_NAME[];

#endif  // APP_PRODUCT_H
