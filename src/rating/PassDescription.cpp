#include "rating/PassDescription.h"

#include "display/ItemDisplay.h"
#include "library/AlbumInfo.h"

QJsonObject PassDescription::photo(std::size_t index, const PlistPtr& item, ItemStatus status)
{
    const PlistPtr key = item ? item->objectForKey(AlbumInfo::itemKey) : nullptr;
    const std::string* identifier = key ? key->asString() : nullptr;
    return QJsonObject{{"index", qint64(index)},
                       {"id", identifier ? QString::fromStdString(*identifier) : QString()},
                       {"status", int(status)}};
}

QJsonArray PassDescription::shownPhotos(const ItemDisplay& display,
                                        const std::function<QJsonObject(std::size_t)>& describe)
{
    QJsonArray photos;
    for (const auto& [index, photoLayer] : display.itemLayers())
        photos.append(describe(index));
    return photos;
}

QJsonObject PassDescription::strip(const ItemDisplay& display, std::size_t count,
                                   const std::function<QJsonObject(std::size_t)>& describe)
{
    return QJsonObject{{"position", qint64(display.position())},
                       {"count", qint64(count)},
                       {"photos", shownPhotos(display, describe)}};
}
