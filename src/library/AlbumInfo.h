#pragma once

#include <memory>

// The photo library's album data and the serial work queue that reads it and writes ratings.
// FIXME: only what start-up and shutdown need so far; reading and rating arrive with the library
// service.
class AlbumInfo {
public:
    static std::shared_ptr<AlbumInfo> sharedAlbumInfo();

    // Queues a reload of the album data.
    void reload();
    // Blocks until every queued operation has finished. Callable from any thread.
    void finish();
    // Whether any photo was rated since the process started. Callable from any thread.
    bool didRateItems() const;
};
