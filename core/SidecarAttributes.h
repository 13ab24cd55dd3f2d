#pragma once

#include "core/AppleDouble.h"
#include "core/AttributeEvaluation.h"
#include "core/HostAttributeName.h"
#include "core/PosixResult.h"

#include <QByteArray>

#include <optional>
#include <utility>
#include <vector>

// An evaluation source (see AttributeEvaluation.h) that lends an item the attributes of its
// AppleDouble sidecar: an attribute the item carries with a value comes from the item, any
// other from the sidecar where that holds it with a value. The decision is taken per
// attribute at its presence test, so the read that follows takes the same side: a value the
// item carries but cannot be read is not replaced by the sidecar's.
//
// `Own` is the item's source (ItemAttributes, or the walk's); `load()` returns the sidecar as
// std::optional<AppleDouble> and is called at most once, only when the item lacks an attribute.
template<typename Own, typename Load> class SidecarAttributes
{
public:
    SidecarAttributes(Own own, Load load) : m_own(std::move(own)), m_load(std::move(load)) {}

    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        PosixResult<bool> own = m_own.hasValue(forms);
        m_decided = &forms;
        m_fromSidecar = !(own && *own) && sidecarValue(forms).has_value();
        if (m_fromSidecar)
            return true;
        return own;
    }

    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms)
    {
        if (m_decided != &forms)
            hasValue(forms);
        if (m_fromSidecar)
            return sidecarValue(forms)->toByteArray();
        return m_own.read(forms);
    }

    // The item's own source, for what it noted (the walk's notes failed reads).
    const Own& own() const { return m_own; }

private:
    // The sidecar's non-empty value of the attribute `forms` stand for.
    std::optional<QByteArrayView> sidecarValue(const std::vector<HostAttributeName>& forms)
    {
        if (!m_loaded) {
            m_sidecar = m_load();
            m_loaded = true;
        }
        if (!m_sidecar || forms.empty())
            return std::nullopt;
        const auto value = m_sidecar->value(forms.front().attribute);
        if (!value || value->isEmpty())
            return std::nullopt;
        return value;
    }

    Own m_own;
    Load m_load;
    std::optional<AppleDouble> m_sidecar;
    bool m_loaded = false;
    const std::vector<HostAttributeName>* m_decided = nullptr;
    bool m_fromSidecar = false;
};

// Evaluates `own` into `sink`, lent the sidecar `load()` gives when `lend` is true.
template<typename Own, typename Load, typename Sink>
void evaluateLent(Own own, bool lend, Load load, Sink& sink, bool examineQuarantine = true)
{
    if (lend) {
        SidecarAttributes<Own, Load> lent(std::move(own), std::move(load));
        evaluateAttributes(lent, sink, examineQuarantine);
    } else {
        evaluateAttributes(own, sink, examineQuarantine);
    }
}
