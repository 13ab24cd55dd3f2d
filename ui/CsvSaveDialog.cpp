#include "ui/CsvSaveDialog.h"
