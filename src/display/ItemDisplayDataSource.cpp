#include "display/ItemDisplayDataSource.h"

ItemDisplayDataSource::~ItemDisplayDataSource() = default;

std::size_t ItemDisplayDataSource::numberOfItemsInDisplay(ItemDisplay& /*display*/)
{
    return 0;
}

QImage ItemDisplayDataSource::itemDisplayNeedsImage(ItemDisplay& /*display*/, std::size_t /*index*/,
                                                    unsigned /*size*/)
{
    return {};
}

ItemDisplayDataSource::ImageWork ItemDisplayDataSource::itemDisplayImageWork(ItemDisplay& /*display*/,
                                                                             std::size_t /*index*/,
                                                                             unsigned /*size*/)
{
    return {};
}

double ItemDisplayDataSource::itemDisplayNeedsAspectRatio(ItemDisplay& /*display*/, std::size_t /*index*/)
{
    return 0.0;
}

long ItemDisplayDataSource::itemDisplayNeedsAlignment(ItemDisplay& /*display*/, std::size_t /*index*/)
{
    return 0;
}

bool ItemDisplayDataSource::respondsToItemDisplayNeedsAlignment() const
{
    return false;
}
