#include "ui/CustomizableToolBar.h"
