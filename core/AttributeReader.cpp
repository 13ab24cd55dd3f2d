#include "core/AttributeReader.h"

const std::vector<HostAttributeName>& provenanceForms()
{
    static const auto forms = HostAttributeName::formsOf(kProvenanceAttribute);
    return forms;
}

const std::vector<HostAttributeName>& quarantineForms()
{
    static const auto forms = HostAttributeName::formsOf(kQuarantineAttribute);
    return forms;
}
