#include "ui/SwipeRecognizer.h"

#include <QNativeGestureEvent>
#include <cmath>

namespace {
// Less movement than this, in pixels, is a touch that did not mean to swipe.
constexpr double noise = 1.0;
} // namespace

std::optional<SwipeRecognizer::Swipe> SwipeRecognizer::handle(const QNativeGestureEvent& event)
{
    switch (event.gestureType()) {
    case Qt::BeginNativeGesture:
        m_inGesture = true;
        m_panX = 0;
        m_panY = 0;
        return std::nullopt;
    case Qt::PanNativeGesture:
    case Qt::SwipeNativeGesture:
        m_panX += event.delta().x();
        m_panY += event.delta().y();
        return std::nullopt;
    case Qt::EndNativeGesture:
        break;
    default:
        return std::nullopt;
    }
    if (!m_inGesture)
        return std::nullopt;
    m_inGesture = false;
    if (std::hypot(m_panX, m_panY) < noise)
        return std::nullopt;
    // Fingers moving left or up; the screen's y axis points down.
    if (std::abs(m_panY) >= std::abs(m_panX))
        return Swipe{0, m_panY < 0 ? 1.0 : -1.0};
    return Swipe{m_panX < 0 ? 1.0 : -1.0, 0};
}
