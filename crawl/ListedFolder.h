#pragma once

#include "crawl/FolderDescriptors.h"
#include "crawl/FolderListing.h"
#include "crawl/FolderSidecars.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct WalkNode;

// A listed folder whose entries are examined in order, by one walking thread at a time.
struct ListedFolder
{
    FolderListing listing;
    std::string name;   // in its parent; the path as given for the walked folder
    QByteArray encoded; // its encoded path, ending in "/"
    std::shared_ptr<WalkNode> node;
    FolderDescriptors::FolderRef parent; // the folder it was opened from
    FolderDescriptors::FolderRef self;   // made when a thread first goes down into a subfolder
    size_t next = 0;                     // the first entry not examined yet
    FolderSidecars sidecars;             // where its entries find their AppleDouble files
    std::vector<std::uint32_t> place;    // entry indexes from the walked folder down to it

    // Whether the rest of `a` comes after the rest of `b` in walk order (a heap order).
    static bool comesAfter(const std::shared_ptr<ListedFolder>& a, const std::shared_ptr<ListedFolder>& b);
};
