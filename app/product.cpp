#include "app/product.h"

const char PRODUCT_NAME[] = "Orvale";
const char MAKER_NAME[] = "Tobarin";
const char UPDATER_MUTEX_NAME[] = "Updater for Orvale is executing.";
const char GAME_MUTEX_NAME[] = "Lumereth for Orvale is executing.";
