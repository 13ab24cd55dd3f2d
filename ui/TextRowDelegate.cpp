#include "ui/TextRowDelegate.h"
