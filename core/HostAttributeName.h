#pragma once

#include <string>
#include <string_view>
#include <vector>

// The name under which an attribute is stored on this host, and whether its
// stored value carries one extra trailing NUL (Samba's stream form does).
struct HostAttributeName
{
    std::string name;
    bool trailingNul = false;

    // Every form a macOS attribute may take on this host, in the order they are tried.
    static std::vector<HostAttributeName> formsOf(std::string_view attribute);

    // The first form of `attribute` that occurs in a listxattr buffer (NUL-separated
    // names), or nullptr when none does.
    static const HostAttributeName* firstListed(const std::vector<HostAttributeName>& forms,
                                                std::string_view nameList);
};
