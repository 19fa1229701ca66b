#pragma once

#include "display/ItemDisplayDataSource.h"
#include "platform/foundation/MainThread.h"

#include <QColor>
#include <QColorSpace>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// A strip's items as plain values: ratios, optional alignments and solid-colour photos of the
// size asked. The image requests are recorded and may be held at a gate, so a test decides when
// a load thread gets its answer. The image operation is safe on any thread.
class FakeItemDisplayDataSource : public ItemDisplayDataSource {
public:
    explicit FakeItemDisplayDataSource(std::vector<double> ratios = {})
        : m_ratios(std::move(ratios))
    {}

    std::size_t numberOfItemsInDisplay(ItemDisplay& /*display*/) override { return m_ratios.size(); }

    double itemDisplayNeedsAspectRatio(ItemDisplay& /*display*/, std::size_t index) override
    {
        return m_ratios.at(index);
    }

    long itemDisplayNeedsAlignment(ItemDisplay& /*display*/, std::size_t index) override
    {
        const auto found = m_alignments.find(index);
        return found == m_alignments.end() ? 0 : found->second;
    }
    bool respondsToItemDisplayNeedsAlignment() const override { return !m_alignments.empty(); }

    QImage itemDisplayNeedsImage(ItemDisplay& /*display*/, std::size_t index, unsigned size) override
    {
        return image(index, size);
    }

    // As a data source whose photos are made after the call, by work it hands out.
    ImageWork itemDisplayImageWork(ItemDisplay& /*display*/, std::size_t index, unsigned size) override
    {
        if (!m_handsOutWork)
            return {};
        return [this, index, size] { return image(index, size); };
    }
    bool m_handsOutWork = false;
    // The pixel format and colour space of the photos made.
    QImage::Format m_format = QImage::Format_RGB32;
    QColorSpace m_colorSpace;

    // The photo asked for, made once the gate lets it through.
    QImage image(std::size_t index, unsigned size)
    {
        std::unique_lock lock(m_mutex);
        m_requests.emplace_back(index, size);
        m_requestArrived.notify_all();
        m_gateOpened.wait(lock, [&] { return m_gateOpen || (m_heldSize && *m_heldSize != size); });
        if (m_missing.count(index) != 0)
            return {};
        const double ratio = index < m_ratios.size() && m_ratios[index] > 0 ? m_ratios[index] : 1.0;
        const int width = ratio >= 1 ? int(size) : std::max(1, int(size * ratio));
        const int height = ratio >= 1 ? std::max(1, int(size / ratio)) : int(size);
        if (m_countsFreeing)
            return imageCountingItsFreeing(width, height);
        QImage image(width, height, m_format);
        image.fill(QColor(200, 40, 40));
        image.setColorSpace(m_colorSpace);
        return image;
    }

    // Where the photos' pixels were freed, once m_countsFreeing is set before they are made.
    struct Freeings {
        std::atomic<int> onMainThread = 0;
        std::atomic<int> elsewhere = 0;
    };
    // Shared with the images, which may outlive this source.
    const std::shared_ptr<Freeings> m_freeings = std::make_shared<Freeings>();
    bool m_countsFreeing = false;

    std::vector<double> m_ratios;
    std::map<std::size_t, long> m_alignments;

    // Items whose photo file is missing.
    void setMissing(std::size_t index)
    {
        std::lock_guard lock(m_mutex);
        m_missing.insert({index, true});
    }
    // While the gate is closed, image requests of this size wait and the others go on; without
    // one, every request waits.
    void setHeldSize(unsigned size)
    {
        std::lock_guard lock(m_mutex);
        m_heldSize = size;
    }
    // While closed, image requests wait.
    void setGateOpen(bool open)
    {
        std::lock_guard lock(m_mutex);
        m_gateOpen = open;
        m_gateOpened.notify_all();
    }
    // Blocks until at least `count` requests have arrived; false when they did not within ten
    // seconds.
    bool waitForRequests(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_requestArrived.wait_for(lock, std::chrono::seconds(10),
                                         [&] { return m_requests.size() >= count; });
    }
    // (index, size) of every image request, in the order they arrived.
    std::vector<std::pair<std::size_t, unsigned>> requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    QImage imageCountingItsFreeing(int width, int height) const
    {
        struct Pixels {
            std::shared_ptr<Freeings> freeings;
            void* data;
        };
        const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
        auto* pixels = new Pixels{m_freeings, std::malloc(bytes)};
        std::memset(pixels->data, 0x80, bytes);
        return QImage(
            static_cast<uchar*>(pixels->data), width, height, width * 4, QImage::Format_RGB32,
            [](void* info) {
                auto* freed = static_cast<Pixels*>(info);
                ++(isMainThread() ? freed->freeings->onMainThread : freed->freeings->elsewhere);
                std::free(freed->data);
                delete freed;
            },
            pixels);
    }

    std::mutex m_mutex;
    std::condition_variable m_gateOpened;
    std::condition_variable m_requestArrived;
    bool m_gateOpen = true;
    std::optional<unsigned> m_heldSize;
    std::map<std::size_t, bool> m_missing;
    std::vector<std::pair<std::size_t, unsigned>> m_requests;
};
