#include "common/user_texts.h"

const char PLUGIN_VERSION[] = "v0.9.2 build at " __DATE__ " " __TIME__;
