#include "library/AlbumInfo.h"

std::shared_ptr<AlbumInfo> AlbumInfo::sharedAlbumInfo() {
    static const auto shared = std::make_shared<AlbumInfo>();
    return shared;
}

void AlbumInfo::reload() {}

void AlbumInfo::finish() {}

bool AlbumInfo::didRateItems() const {
    return false;
}
