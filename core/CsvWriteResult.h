#pragma once

#include <QString>

// What a model's CSV export did, so that the window can tell the user.
struct CsvWriteResult
{
    enum Status
    {
        Written,
        NothingToWrite, // the list was empty: no file was created or changed
        Failed
    };
    Status status = Written;
    QString reason; // why it failed
};
