#pragma once

#include "library/ItemStatus.h"
#include "platform/foundation/PropertyList.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstddef>
#include <functional>

class ItemDisplay;

// What automation reads of a rating screen: the photos a strip shows, each with its index, its
// identifier in the library and its status. A read-out of the real state, nothing kept.
class PassDescription {
public:
    // {"index": i, "id": "<qm_ItemKey>", "status": s}.
    static QJsonObject photo(std::size_t index, const PlistPtr& item, ItemStatus status);
    // The photos that have a layer in `display` now, in index order, each described by `describe`.
    static QJsonArray shownPhotos(const ItemDisplay& display,
                                  const std::function<QJsonObject(std::size_t)>& describe);
    // {"position": p, "count": n, "photos": shownPhotos(...)}.
    static QJsonObject strip(const ItemDisplay& display, std::size_t count,
                             const std::function<QJsonObject(std::size_t)>& describe);
};
