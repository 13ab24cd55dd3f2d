#include "crawl/ListedFolder.h"

#include <algorithm>

bool ListedFolder::comesAfter(const std::shared_ptr<ListedFolder>& a, const std::shared_ptr<ListedFolder>& b)
{
    // Two rests never overlap: one folder's rest lies wholly before or after the other's.
    const size_t common = std::min(a->place.size(), b->place.size());
    for (size_t i = 0; i < common; ++i) {
        if (a->place[i] != b->place[i])
            return a->place[i] > b->place[i];
    }
    // One is an ancestor of the other: its next entry comes after the entry the other lies
    // below, so the two never compare equal.
    const size_t aNext = a->place.size() > common ? a->place[common] : a->next;
    const size_t bNext = b->place.size() > common ? b->place[common] : b->next;
    return aNext > bNext;
}
