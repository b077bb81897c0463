// What the updater tells the user: its texts and the message for each outcome.
#ifndef APP_MESSAGES_H
#define APP_MESSAGES_H

#include "package/update_result.h"

// Code page 932 texts.
extern const char TEXT_UPDATE_COMPLETED[];
extern const char TEXT_PACKAGE_BROKEN[];
extern const char TEXT_CANNOT_UPDATE[];
extern const char TEXT_UNINSTALL_LIST_FAILED[];
extern const char TEXT_NOT_INSTALLED[];
extern const char TEXT_GAME_RUNNING[];
extern const char TEXT_CONFIRM_UPDATE[];

// An OK box with no owner, the product caption and the information or the
// warning icon. Each returns the box's result, which callers ignore.
int ShowInformation(const char* text);
int ShowWarning(const char* text);

struct OutcomeMessage {
  UpdateResult result;
  bool is_warning;  // else information
  const char* text;
};

// The message that reports `result`; null for a result that shows nothing
// (a declined update, a second copy, any code the table does not know).
const OutcomeMessage* FindOutcomeMessage(UpdateResult result);

// Shows the message of `result`, if it has one, and waits until the user
// dismisses it.
void ReportOutcome(UpdateResult result);

#endif  // APP_MESSAGES_H
