#include "library/RateSet.h"

#include "platform/foundation/InternalInconsistency.h"

#include <QString>

RateSet::RateSet(PlistArray items)
    : RateSet(std::make_shared<const PlistArray>(std::move(items)))
{}

RateSet::RateSet(std::shared_ptr<const PlistArray> items)
    : m_items(items ? std::move(items) : std::make_shared<const PlistArray>())
    , m_itemStates(m_items->size(), ItemStatusNeutral)
{}

std::shared_ptr<RateSet> RateSet::rateSetWithItems(PlistArray items)
{
    return std::make_shared<RateSet>(std::move(items));
}

std::shared_ptr<RateSet> RateSet::rateSetSharingItems(std::shared_ptr<const PlistArray> items)
{
    return std::make_shared<RateSet>(std::move(items));
}

ItemStatus RateSet::itemStatusAtIndex(std::size_t index) const
{
    checkIndex(index, __func__);
    return m_itemStates[index];
}

void RateSet::setItemStatus(ItemStatus status, std::size_t index)
{
    checkIndex(index, __func__);
    m_itemStates[index] = status;
}

PlistArray RateSet::itemsWithStatus(ItemStatus status) const
{
    PlistArray result;
    for (std::size_t i = 0; i < m_items->size(); ++i) {
        if (m_itemStates[i] == status)
            result.push_back((*m_items)[i]);
    }
    return result;
}

void RateSet::checkIndex(std::size_t index, const char* operation) const
{
    if (index < count())
        return;
    raiseInternalInconsistency(QString::asprintf("Index out of range (%lu >= %lu)",
                                                 static_cast<unsigned long>(index),
                                                 static_cast<unsigned long>(count()))
                                   .toStdString(),
                               operation, qmObjectName(this), __FILE__, __LINE__);
}
