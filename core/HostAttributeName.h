#pragma once

#include <string>
#include <string_view>
#include <vector>

// The name under which an attribute is stored on this host, and whether its
// stored value carries one extra trailing NUL (Samba's stream forms do).
struct HostAttributeName
{
    std::string name;
    bool trailingNul = false;
    std::string attribute; // the macOS name it stands for, such as "com.apple.provenance"
    // Some shares append the NUL under this name too (Samba's prefix "user.", netatalk's
    // "ea = samba"): a value that is that NUL alone is an empty value. The decoders deal
    // with a NUL after a value.
    bool mayAppendNul = false;

    // Every form a macOS attribute may take on this host, in the order they are tried.
    static std::vector<HostAttributeName> formsOf(std::string_view attribute);

    // The first form of `attribute` that occurs in a listxattr buffer (NUL-separated
    // names), or nullptr when none does.
    static const HostAttributeName* firstListed(const std::vector<HostAttributeName>& forms,
                                                std::string_view nameList);
};
