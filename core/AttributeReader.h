#pragma once

#include "core/HostAttributeName.h"

#include <vector>

// The two attributes this program is about, by their Mac names.
inline constexpr char kProvenanceAttribute[] = "com.apple.provenance";
inline constexpr char kQuarantineAttribute[] = "com.apple.quarantine";

// The host forms of the two attributes, computed once.
const std::vector<HostAttributeName>& provenanceForms();
const std::vector<HostAttributeName>& quarantineForms();
