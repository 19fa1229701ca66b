#pragma once

#include <QImage>
#include <cstddef>
#include <functional>

class ItemDisplay;

// What a screen controller tells a photo strip about its items. Every call names the asking
// display, so one controller can feed several strips. The defaults do nothing: no items, no
// image, no aspect ratio (shown as a square), no alignment.
class ItemDisplayDataSource {
public:
    virtual ~ItemDisplayDataSource();

    // Main thread.
    virtual std::size_t numberOfItemsInDisplay(ItemDisplay& display);

    // The photo of item `index`, its longer side `size` pixels or less; a null image when there is
    // none. Called on the display's load threads: it must read nothing that the main thread
    // changes. The display guarantees it is not called once the display has been destroyed or its
    // data source replaced, and waits for a call under way before either completes.
    virtual QImage itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size);

    // The same photo as work the display runs afterwards on the load thread, without holding the
    // data source: replacing the data source or destroying the display then never waits for a
    // decode under way (a Select pressed while the picker loads a 24-megapixel photo). Asked under
    // the same guarantee as itemDisplayNeedsImage; the work must own everything it reads, as it may
    // outlive the data source. A null function (the default) makes the display call
    // itemDisplayNeedsImage instead.
    using ImageWork = std::function<QImage()>;
    virtual ImageWork itemDisplayImageWork(ItemDisplay& display, std::size_t index, unsigned size);

    // Width over height as displayed; a value that is not positive is shown as a square. Main
    // thread.
    virtual double itemDisplayNeedsAspectRatio(ItemDisplay& display, std::size_t index);

    // Vertical shift in quarters of the strip's height, positive up. Optional: the display asks
    // only when respondsToItemDisplayNeedsAlignment() is true, and uses 0 otherwise. Main thread.
    virtual long itemDisplayNeedsAlignment(ItemDisplay& display, std::size_t index);
    virtual bool respondsToItemDisplayNeedsAlignment() const;
};
