#include "common/module.h"

HINSTANCE g_instance = NULL;
