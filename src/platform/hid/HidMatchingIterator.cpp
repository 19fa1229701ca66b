#include "platform/hid/HidMatchingIterator.h"

HidServicePtr HidMatchingIterator::next()
{
    if (m_services.empty())
        return nullptr;
    HidServicePtr service = std::move(m_services.front());
    m_services.pop_front();
    return service;
}

void HidMatchingIterator::add(HidServicePtr service, bool signal)
{
    m_services.push_back(std::move(service));
    if (signal && m_callout) {
        auto callout = m_callout;
        callout();
    }
}
