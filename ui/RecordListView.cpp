#include "ui/RecordListView.h"
