#pragma once

#include <QString>

// Whether the crawl and drop windows lend files the attributes of their AppleDouble
// sidecars: the preference "readSidecars", on unless set otherwise, changed from the crawl
// window's menu.
class SidecarPreference
{
public:
    static QString key();
    static bool enabled();
    static void setEnabled(bool enabled);
};
