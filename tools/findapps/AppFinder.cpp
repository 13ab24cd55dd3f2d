#include "tools/findapps/AppFinder.h"
