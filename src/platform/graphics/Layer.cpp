#include "Layer.h"

#include "AnimationClock.h"
#include "BasicAnimation.h"
#include "DrawingContext.h"
#include "Transaction.h"
#include "platform/foundation/InternalInconsistency.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

double lerp(double from, double to, double t)
{
    return from + (to - from) * t;
}

Point lerp(Point from, Point to, double t)
{
    return {lerp(from.x, to.x, t), lerp(from.y, to.y, t)};
}

Size lerp(Size from, Size to, double t)
{
    return {lerp(from.width, to.width, t), lerp(from.height, to.height, t)};
}

Rect lerp(const Rect& from, const Rect& to, double t)
{
    return Rect(lerp(from.origin, to.origin, t), lerp(from.size, to.size, t));
}

std::optional<Color> lerp(const std::optional<Color>& from, const std::optional<Color>& to, double t)
{
    if (!from && !to)
        return std::nullopt;
    // No colour fades like the other colour made transparent.
    auto transparentLike = [](const Color& c) {
        std::vector<double> components = c.components();
        if (!components.empty())
            components.back() = 0;
        return Color(c.space(), std::move(components));
    };
    return Color::interpolate(from ? *from : transparentLike(*to), to ? *to : transparentLike(*from), t);
}

// Blends two affine transforms through their rotation, scales, shear and translation, so that a
// turn stays a turn half-way instead of shrinking.
QTransform lerp(const QTransform& from, const QTransform& to, double t)
{
    struct Parts {
        double angle, scaleX, scaleY, shear, dx, dy;
    };
    auto decompose = [](const QTransform& m) {
        const double scaleX = std::hypot(m.m11(), m.m12());
        const double angle = std::atan2(m.m12(), m.m11());
        const double determinant = m.m11() * m.m22() - m.m12() * m.m21();
        const double scaleY = scaleX == 0 ? 0 : determinant / scaleX;
        const double shear = scaleX == 0 ? 0 : (m.m11() * m.m21() + m.m12() * m.m22()) / (scaleX * scaleX);
        return Parts{angle, scaleX, scaleY, shear, m.dx(), m.dy()};
    };
    const Parts a = decompose(from);
    const Parts b = decompose(to);
    double turn = b.angle - a.angle;
    if (turn > std::numbers::pi)
        turn -= 2 * std::numbers::pi;
    else if (turn < -std::numbers::pi)
        turn += 2 * std::numbers::pi;
    const double angle = a.angle + turn * t;
    const double scaleX = lerp(a.scaleX, b.scaleX, t);
    const double scaleY = lerp(a.scaleY, b.scaleY, t);
    const double shear = lerp(a.shear, b.shear, t);
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    // Row-vector form: scale and shear first, then the turn.
    const QTransform local(scaleX, 0, shear * scaleY, scaleY, 0, 0);
    const QTransform rotation(c, s, -s, c, 0, 0);
    QTransform result = local * rotation;
    return QTransform(result.m11(), result.m12(), result.m21(), result.m22(), lerp(a.dx, b.dx, t),
                      lerp(a.dy, b.dy, t));
}

template <typename T> bool anyIs(const std::any& value)
{
    return value.type() == typeid(T);
}

} // namespace

Layer::Layer() = default;

Layer::~Layer()
{
    for (const auto& sublayer : m_sublayers)
        sublayer->m_superlayer = nullptr;
    if (m_mask)
        m_mask->m_maskedLayer = nullptr;
}

LayerPtr Layer::create()
{
    return LayerPtr(new Layer());
}

std::string Layer::kindName() const
{
    return "Layer";
}

void Layer::propertyDidChange(const char* key)
{
    noteSubtreeChange();
    didChangeValueForKey(key);
    if (LayerTreeHost* host = hostOfTree())
        host->layerTreeNeedsDisplay();
}

void Layer::noteSubtreeChange()
{
    for (Layer* layer = this; layer; layer = layer->m_superlayer ? layer->m_superlayer : layer->m_maskedLayer)
        ++layer->m_subtreeRevision;
}

double Layer::deviceScale() const
{
    const LayerTreeHost* host = hostOfTree();
    const double ratio = host ? host->devicePixelRatio() : 1.0;
    return ratio > 0 ? ratio : 1.0;
}

LayerTreeHost* Layer::hostOfTree() const
{
    const Layer* layer = this;
    for (;;) {
        if (layer->m_superlayer)
            layer = layer->m_superlayer;
        else if (layer->m_maskedLayer)
            layer = layer->m_maskedLayer;
        else
            return layer->m_treeHost;
    }
}

std::optional<double> Layer::implicitDuration(const char* key, const char* fallbackKey) const
{
    if (!m_presented || Transaction::disableActions() || !hostOfTree())
        return std::nullopt;
    double duration = Transaction::animationDuration();
    for (const char* actionKey : {key, fallbackKey}) {
        if (!actionKey)
            continue;
        const auto it = m_actions.find(actionKey);
        if (it == m_actions.end())
            continue;
        if (!it->second)
            return std::nullopt;
        if (it->second->duration() > 0)
            duration = it->second->duration();
        break;
    }
    if (duration <= 0)
        return std::nullopt;
    return duration;
}

void Layer::animateFrom(Property property, const LayerState& presented, const char* key,
                        const char* fallbackKey)
{
    const std::optional<double> duration = implicitDuration(key, fallbackKey);
    if (!duration)
        return;
    std::erase_if(m_implicitAnimations,
                  [property](const ImplicitAnimation& a) { return a.property == property; });
    m_implicitAnimations.push_back({property, presented, AnimationClock::now(), *duration});
}

void Layer::setBounds(const Rect& bounds)
{
    changeBounds(bounds, false);
    propertyDidChange("bounds");
}

// Through setFrame() the "frame" action decides first, then the property's own.
void Layer::changeBounds(const Rect& bounds, bool viaFrame)
{
    const Rect old = m_model.bounds;
    if (old != bounds) {
        const LayerState presented = presentation();
        m_model.bounds = bounds;
        animateFrom(Property::Bounds, presented, viaFrame ? "frame" : "bounds",
                    viaFrame ? "bounds" : nullptr);
    }
    if (old.size != bounds.size) {
        autoresizeSublayers(old.size);
        setNeedsLayout();
        if (m_needsDisplayOnBoundsChange)
            setNeedsDisplay();
    }
}

void Layer::setPosition(Point position)
{
    changePosition(position, false);
    propertyDidChange("position");
}

void Layer::changePosition(Point position, bool viaFrame)
{
    if (m_model.position != position) {
        const LayerState presented = presentation();
        m_model.position = position;
        animateFrom(Property::Position, presented, viaFrame ? "frame" : "position",
                    viaFrame ? "position" : nullptr);
    }
}

void Layer::setAnchorPoint(Point anchorPoint)
{
    setAnimatable(&LayerState::anchorPoint, anchorPoint, Property::AnchorPoint, "anchorPoint");
}

void Layer::setFrame(const Rect& frame)
{
    const Rect r = frame.isNull() ? Rect() : frame.standardized();
    const Point anchor = m_model.anchorPoint;
    changeBounds(Rect(m_model.bounds.origin, r.size), true);
    changePosition(Point{r.origin.x + anchor.x * r.size.width, r.origin.y + anchor.y * r.size.height}, true);
    // Announced once both are stored, so that an observer of either sees the whole new frame.
    propertyDidChange("bounds");
    propertyDidChange("position");
    propertyDidChange("frame");
}

void Layer::setTransform(const QTransform& transform)
{
    setAnimatable(&LayerState::transform, transform, Property::Transform, "transform");
}

void Layer::setOpacity(double opacity)
{
    setAnimatable(&LayerState::opacity, opacity, Property::Opacity, "opacity");
}

void Layer::setHidden(bool hidden)
{
    m_hidden = hidden;
    propertyDidChange("hidden");
}

void Layer::setBackgroundColor(std::optional<Color> color)
{
    if (m_model.backgroundColor != color) {
        const LayerState presented = presentation();
        m_model.backgroundColor = std::move(color);
        animateFrom(Property::BackgroundColor, presented, "backgroundColor");
    }
    propertyDidChange("backgroundColor");
}

void Layer::setBorderWidth(double width)
{
    setAnimatable(&LayerState::borderWidth, width, Property::BorderWidth, "borderWidth");
}

void Layer::setBorderColor(const Color& color)
{
    setAnimatable(&LayerState::borderColor, color, Property::BorderColor, "borderColor");
}

void Layer::setShadowOpacity(double opacity)
{
    setAnimatable(&LayerState::shadowOpacity, opacity, Property::ShadowOpacity, "shadowOpacity");
}

void Layer::setShadowRadius(double radius)
{
    setAnimatable(&LayerState::shadowRadius, radius, Property::ShadowRadius, "shadowRadius");
}

void Layer::setShadowOffset(Size offset)
{
    setAnimatable(&LayerState::shadowOffset, offset, Property::ShadowOffset, "shadowOffset");
}

void Layer::setShadowColor(const Color& color)
{
    setAnimatable(&LayerState::shadowColor, color, Property::ShadowColor, "shadowColor");
}

void Layer::setContents(const QImage& contents)
{
    if (!(contents.isNull() && m_contents.isNull()) && contents.cacheKey() != m_contents.cacheKey()) {
        LayerState presented = presentation();
        // What fades out is what was fully shown; a fade still under way is cut short.
        m_previousContents = m_contents;
        m_contents = contents;
        m_scaledPreviousContents.clear();
        m_scaledContents.clear();
        presented.contentsTransition = 0;
        animateFrom(Property::Contents, presented, "contents");
        if (std::none_of(m_implicitAnimations.begin(), m_implicitAnimations.end(),
                         [](const ImplicitAnimation& a) { return a.property == Property::Contents; }))
            m_previousContents = QImage();
    }
    propertyDidChange("contents");
}

void Layer::setContentsGravity(ContentsGravity gravity)
{
    m_contentsGravity = gravity;
    propertyDidChange("contentsGravity");
}

void Layer::setMask(LayerPtr mask)
{
    if (mask && mask.get() == m_mask.get()) {
        propertyDidChange("mask");
        return;
    }
    if (m_mask)
        m_mask->m_maskedLayer = nullptr;
    if (mask) {
        QM_PARAMETER_ASSERT(mask.get() != this, "mask != self");
        mask->removeFromSuperlayer();
        mask->m_maskedLayer = this;
    }
    m_mask = std::move(mask);
    propertyDidChange("mask");
}

void Layer::setMasksToBounds(bool masks)
{
    m_masksToBounds = masks;
    propertyDidChange("masksToBounds");
}

void Layer::setAutoresizingMask(AutoresizingMask mask)
{
    m_autoresizingMask = mask;
    propertyDidChange("autoresizingMask");
}

void Layer::setName(std::string name)
{
    m_name = std::move(name);
    propertyDidChange("name");
}

QVariant Layer::attribute(const std::string& key) const
{
    const auto it = m_attributes.find(key);
    return it == m_attributes.end() ? QVariant() : it->second;
}

void Layer::setAttribute(const std::string& key, QVariant value)
{
    if (value.isValid())
        m_attributes[key] = std::move(value);
    else
        m_attributes.erase(key);
    propertyDidChange(key.c_str());
}

void Layer::setActions(ActionTable actions)
{
    m_actions = std::move(actions);
    propertyDidChange("actions");
}

Layer* Layer::rootLayer()
{
    Layer* layer = this;
    while (layer->m_superlayer)
        layer = layer->m_superlayer;
    return layer;
}

const Layer* Layer::rootLayer() const
{
    return const_cast<Layer*>(this)->rootLayer();
}

void Layer::addSublayer(LayerPtr layer)
{
    if (!layer)
        return;
    layer->removeFromSuperlayer();
    attachSublayer(std::move(layer), m_sublayers.size());
}

void Layer::insertSublayerAt(LayerPtr layer, size_t index)
{
    if (!layer)
        return;
    layer->removeFromSuperlayer();
    attachSublayer(std::move(layer), std::min(index, m_sublayers.size()));
}

void Layer::insertSublayerBelow(LayerPtr layer, const Layer* sibling)
{
    if (!layer)
        return;
    layer->removeFromSuperlayer();
    const auto it = std::find_if(m_sublayers.begin(), m_sublayers.end(),
                                 [sibling](const LayerPtr& l) { return l.get() == sibling; });
    attachSublayer(std::move(layer), it == m_sublayers.end() ? 0 : size_t(it - m_sublayers.begin()));
}

void Layer::insertSublayerAbove(LayerPtr layer, const Layer* sibling)
{
    if (!layer)
        return;
    layer->removeFromSuperlayer();
    const auto it = std::find_if(m_sublayers.begin(), m_sublayers.end(),
                                 [sibling](const LayerPtr& l) { return l.get() == sibling; });
    attachSublayer(std::move(layer),
                   it == m_sublayers.end() ? m_sublayers.size() : size_t(it - m_sublayers.begin()) + 1);
}

void Layer::replaceSublayer(const Layer* oldLayer, LayerPtr newLayer)
{
    QM_PARAMETER_ASSERT(oldLayer && oldLayer->m_superlayer == this, "oldLayer.superlayer == self");
    if (newLayer.get() == oldLayer)
        return;
    if (newLayer)
        newLayer->removeFromSuperlayer();
    const auto it = std::find_if(m_sublayers.begin(), m_sublayers.end(),
                                 [oldLayer](const LayerPtr& l) { return l.get() == oldLayer; });
    const size_t index = size_t(it - m_sublayers.begin());
    detachSublayer(oldLayer);
    if (newLayer)
        attachSublayer(std::move(newLayer), index);
}

void Layer::removeFromSuperlayer()
{
    if (m_superlayer) {
        m_superlayer->detachSublayer(this);
        return;
    }
    if (m_maskedLayer && m_maskedLayer->m_mask.get() == this)
        m_maskedLayer->setMask(nullptr);
}

void Layer::attachSublayer(LayerPtr layer, size_t index)
{
    for (const Layer* ancestor = this; ancestor; ancestor = ancestor->m_superlayer)
        QM_PARAMETER_ASSERT(ancestor != layer.get(), "layer is not an ancestor of self");
    layer->m_superlayer = this;
    Layer* added = layer.get();
    m_sublayers.insert(m_sublayers.begin() + std::ptrdiff_t(index), std::move(layer));
    if (added->m_needsLayout || added->m_subtreeNeedsLayout)
        markSubtreeNeedsLayout();
    // A layer joining a tree that is on screen fades in, unless the parent's "sublayers" action
    // says otherwise. It has never been drawn, so it has no presentation of its own yet.
    if (const std::optional<double> duration = implicitDuration("sublayers")) {
        LayerState transparent = added->m_model;
        transparent.opacity = 0;
        std::erase_if(added->m_implicitAnimations,
                      [](const ImplicitAnimation& a) { return a.property == Property::Opacity; });
        added->m_implicitAnimations.push_back(
            {Property::Opacity, transparent, AnimationClock::now(), *duration});
    }
    propertyDidChange("sublayers");
}

void Layer::detachSublayer(const Layer* layer)
{
    const auto it = std::find_if(m_sublayers.begin(), m_sublayers.end(),
                                 [layer](const LayerPtr& l) { return l.get() == layer; });
    if (it == m_sublayers.end())
        return;
    // Keep it alive until it no longer points here.
    const LayerPtr keep = *it;
    m_sublayers.erase(it);
    keep->m_superlayer = nullptr;
    propertyDidChange("sublayers");
}

QTransform Layer::toRoot() const
{
    QTransform result;
    for (const Layer* layer = this; layer->m_superlayer; layer = layer->m_superlayer)
        result = result * layer->m_model.toSuperlayer();
    return result;
}

Point Layer::convertPointToLayer(Point point, const Layer* other) const
{
    QPointF p = toRoot().map(QPointF(point.x, point.y));
    if (other)
        p = other->toRoot().inverted().map(p);
    return {p.x(), p.y()};
}

Point Layer::convertPointFromLayer(Point point, const Layer* other) const
{
    QPointF p(point.x, point.y);
    if (other)
        p = other->toRoot().map(p);
    p = toRoot().inverted().map(p);
    return {p.x(), p.y()};
}

namespace {

Rect mapRect(const QTransform& transform, const Rect& rect)
{
    if (rect.isNull())
        return rect;
    const Rect r = rect.standardized();
    if (transform.type() <= QTransform::TxTranslate)
        return r.offsetBy(transform.dx(), transform.dy());
    const QRectF mapped = transform.mapRect(QRectF(r.minX(), r.minY(), r.width(), r.height()));
    return Rect(mapped.x(), mapped.y(), mapped.width(), mapped.height());
}

} // namespace

Rect Layer::convertRectToLayer(const Rect& rect, const Layer* other) const
{
    QTransform transform = toRoot();
    if (other)
        transform = transform * other->toRoot().inverted();
    return mapRect(transform, rect);
}

Rect Layer::convertRectFromLayer(const Rect& rect, const Layer* other) const
{
    QTransform transform = toRoot().inverted();
    if (other)
        transform = other->toRoot() * transform;
    return mapRect(transform, rect);
}

void Layer::setLayoutManager(LayoutManager* manager)
{
    m_layoutManager = manager;
    propertyDidChange("layoutManager");
}

void Layer::setNeedsLayout()
{
    m_needsLayout = true;
    if (m_superlayer)
        m_superlayer->markSubtreeNeedsLayout();
    propertyDidChange("needsLayout");
}

void Layer::setNeedsLayoutThroughout()
{
    setNeedsLayout();
    for (size_t i = 0; i < m_sublayers.size(); ++i) {
        const LayerPtr sublayer = m_sublayers[i];
        sublayer->setNeedsLayoutThroughout();
    }
}

void Layer::markSubtreeNeedsLayout()
{
    for (Layer* layer = this; layer && !layer->m_subtreeNeedsLayout; layer = layer->m_superlayer)
        layer->m_subtreeNeedsLayout = true;
}

void Layer::layoutSublayers()
{
    m_needsLayout = false;
    if (m_layoutManager)
        m_layoutManager->layoutSublayersOfLayer(*this);
}

void Layer::layoutIfNeeded()
{
    const LayerPtr keepAlive = shared_from_this();
    if (!m_superlayer && !m_maskedLayer) {
        // A tree moved to a screen of another density is laid out again in full, so what is made
        // for its device pixels (photos decoded for a layer's size) is made again for the new one.
        const double scale = deviceScale();
        if (m_laidOutDeviceScale > 0 && scale != m_laidOutDeviceScale)
            setNeedsLayoutThroughout();
        m_laidOutDeviceScale = scale;
    }
    if (m_needsLayout)
        layoutSublayers();
    if (!m_subtreeNeedsLayout)
        return;
    m_subtreeNeedsLayout = false;
    // By index: a layout may add or remove sublayers; whatever it skips is marked and comes
    // again with the next pass.
    for (size_t i = 0; i < m_sublayers.size(); ++i) {
        const LayerPtr sublayer = m_sublayers[i];
        if (sublayer->m_needsLayout || sublayer->m_subtreeNeedsLayout)
            sublayer->layoutIfNeeded();
    }
}

void Layer::autoresizeSublayers(Size oldSize)
{
    const Size newSize{m_model.bounds.width(), m_model.bounds.height()};
    const Size old{std::abs(oldSize.width), std::abs(oldSize.height)};
    for (size_t i = 0; i < m_sublayers.size(); ++i) {
        const LayerPtr sublayer = m_sublayers[i];
        sublayer->autoresizeWithOldSuperlayerSize(old, newSize);
    }
}

namespace {

// Shares `delta` among the flexible parts of one axis in proportion to their current lengths
// (evenly when they are all zero). Returns the new lengths.
std::array<double, 3> distribute(std::array<double, 3> lengths, std::array<bool, 3> flexible, double delta)
{
    double total = 0;
    int count = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (flexible[i]) {
            total += lengths[i];
            ++count;
        }
    }
    if (count == 0)
        return lengths;
    for (size_t i = 0; i < 3; ++i) {
        if (flexible[i])
            lengths[i] += total > 0 ? delta * lengths[i] / total : delta / count;
    }
    return lengths;
}

} // namespace

void Layer::autoresizeWithOldSuperlayerSize(Size oldSize, Size newSize)
{
    using M = AutoresizingMask;
    if (m_autoresizingMask == M::NotSizable)
        return;
    const Rect f = frame();
    const auto x =
        distribute({f.minX(), f.width(), oldSize.width - f.maxX()},
                   {m_autoresizingMask & M::FlexibleMinXMargin, m_autoresizingMask & M::FlexibleWidth,
                    m_autoresizingMask & M::FlexibleMaxXMargin},
                   newSize.width - oldSize.width);
    const auto y =
        distribute({f.minY(), f.height(), oldSize.height - f.maxY()},
                   {m_autoresizingMask & M::FlexibleMinYMargin, m_autoresizingMask & M::FlexibleHeight,
                    m_autoresizingMask & M::FlexibleMaxYMargin},
                   newSize.height - oldSize.height);
    setFrame(Rect(x[0], y[0], std::max(0.0, x[1]), std::max(0.0, y[1])));
}

void Layer::setDelegate(LayerDelegate* delegate)
{
    m_delegate = delegate;
    propertyDidChange("delegate");
}

void Layer::setNeedsDisplay()
{
    m_needsDisplay = true;
    propertyDidChange("needsDisplay");
}

void Layer::setNeedsDisplayOnBoundsChange(bool needs)
{
    m_needsDisplayOnBoundsChange = needs;
    propertyDidChange("needsDisplayOnBoundsChange");
}

void Layer::displayIfNeeded(double scale)
{
    scale = scale > 0 ? scale : 1.0;
    if (!m_needsDisplay && (scale == m_backingScale || m_backingImage.isNull()))
        return;
    m_needsDisplay = false;
    m_backingScale = scale;
    const Rect r = m_model.bounds.standardized();
    const int width = int(std::ceil(r.width() * scale));
    const int height = int(std::ceil(r.height() * scale));
    if (!m_delegate || width <= 0 || height <= 0) {
        m_backingImage = QImage();
        return;
    }
    if (m_backingImage.width() != width || m_backingImage.height() != height)
        m_backingImage = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    m_backingImage.setDevicePixelRatio(scale);
    m_backingImage.fill(Qt::transparent);
    noteSubtreeChange();
    QPainter painter(&m_backingImage);
    DrawingContext context(painter, r);
    m_delegate->drawLayer(*this, context);
}

void Layer::addAnimation(std::shared_ptr<Animation> animation, std::optional<std::string> key)
{
    if (!animation)
        return;
    if (key)
        removeAnimationForKey(*key);
    const double duration =
        animation->duration() > 0 ? animation->duration() : Transaction::animationDuration();
    const double begin = animation->beginTime() > 0 ? animation->beginTime() : AnimationClock::now();
    m_animations.push_back({std::move(key), std::move(animation), begin, duration});
    propertyDidChange("animations");
}

std::shared_ptr<Animation> Layer::animationForKey(std::optional<std::string> key) const
{
    if (!key)
        return nullptr;
    for (const auto& entry : m_animations) {
        if (entry.key == key)
            return entry.animation;
    }
    return nullptr;
}

void Layer::removeAnimationForKey(const std::string& key)
{
    std::erase_if(m_animations, [&key](const KeyedAnimation& entry) { return entry.key == key; });
    propertyDidChange("animations");
}

void Layer::removeAllAnimations()
{
    m_animations.clear();
    m_implicitAnimations.clear();
    m_previousContents = QImage();
    propertyDidChange("animations");
}

void Layer::applyImplicitAnimation(const ImplicitAnimation& animation, double t, LayerState& state) const
{
    const LayerState& from = animation.from;
    switch (animation.property) {
    case Property::Bounds:
        state.bounds = lerp(from.bounds, m_model.bounds, t);
        break;
    case Property::Position:
        state.position = lerp(from.position, m_model.position, t);
        break;
    case Property::AnchorPoint:
        state.anchorPoint = lerp(from.anchorPoint, m_model.anchorPoint, t);
        break;
    case Property::Transform:
        state.transform = lerp(from.transform, m_model.transform, t);
        break;
    case Property::Opacity:
        state.opacity = lerp(from.opacity, m_model.opacity, t);
        break;
    case Property::BackgroundColor:
        state.backgroundColor = lerp(from.backgroundColor, m_model.backgroundColor, t);
        break;
    case Property::BorderWidth:
        state.borderWidth = lerp(from.borderWidth, m_model.borderWidth, t);
        break;
    case Property::BorderColor:
        state.borderColor = Color::interpolate(from.borderColor, m_model.borderColor, t);
        break;
    case Property::ShadowOpacity:
        state.shadowOpacity = lerp(from.shadowOpacity, m_model.shadowOpacity, t);
        break;
    case Property::ShadowRadius:
        state.shadowRadius = lerp(from.shadowRadius, m_model.shadowRadius, t);
        break;
    case Property::ShadowOffset:
        state.shadowOffset = lerp(from.shadowOffset, m_model.shadowOffset, t);
        break;
    case Property::ShadowColor:
        state.shadowColor = Color::interpolate(from.shadowColor, m_model.shadowColor, t);
        break;
    case Property::Contents:
        state.contentsTransition = lerp(from.contentsTransition, 1.0, t);
        break;
    }
}

// Explicit animations of the simple key paths are shown too; others are only held.
void Layer::applyExplicitAnimation(const KeyedAnimation& entry, double t, LayerState& state) const
{
    const auto* basic = dynamic_cast<const BasicAnimation*>(entry.animation.get());
    if (!basic)
        return;
    const std::string& keyPath = basic->keyPath();
    const std::any& from = basic->fromValue();
    const std::any& to = basic->toValue();
    if (keyPath == "opacity" && anyIs<double>(from) && anyIs<double>(to))
        state.opacity = lerp(std::any_cast<double>(from), std::any_cast<double>(to), t);
    else if (keyPath == "position" && anyIs<Point>(from) && anyIs<Point>(to))
        state.position = lerp(std::any_cast<Point>(from), std::any_cast<Point>(to), t);
    else if (keyPath == "bounds" && anyIs<Rect>(from) && anyIs<Rect>(to))
        state.bounds = lerp(std::any_cast<Rect>(from), std::any_cast<Rect>(to), t);
    else if (keyPath == "transform" && anyIs<QTransform>(from) && anyIs<QTransform>(to))
        state.transform = lerp(std::any_cast<QTransform>(from), std::any_cast<QTransform>(to), t);
}

LayerState Layer::presentation() const
{
    LayerState state = m_model;
    if (m_implicitAnimations.empty() && m_animations.empty())
        return state;
    const double now = AnimationClock::now();
    for (const auto& animation : m_implicitAnimations) {
        const double t = (now - animation.beginTime) / animation.duration;
        if (t < 1)
            applyImplicitAnimation(animation, std::max(0.0, t), state);
    }
    for (const auto& entry : m_animations) {
        const double t = (now - entry.beginTime) / entry.duration;
        if (t >= 0 && t < 1)
            applyExplicitAnimation(entry, t, state);
    }
    return state;
}

bool Layer::hasRunningAnimations() const
{
    const double now = AnimationClock::now();
    for (const auto& animation : m_implicitAnimations) {
        if (now < animation.beginTime + animation.duration)
            return true;
    }
    for (const auto& entry : m_animations) {
        if (now < entry.beginTime + entry.duration)
            return true;
    }
    if (m_mask && m_mask->hasRunningAnimations())
        return true;
    return std::any_of(m_sublayers.begin(), m_sublayers.end(),
                       [](const LayerPtr& sublayer) { return sublayer->hasRunningAnimations(); });
}

void Layer::pruneFinishedAnimations()
{
    if (m_implicitAnimations.empty() && m_animations.empty())
        return;
    const double now = AnimationClock::now();
    std::erase_if(m_implicitAnimations,
                  [now](const ImplicitAnimation& a) { return now >= a.beginTime + a.duration; });
    std::erase_if(m_animations, [now](const KeyedAnimation& e) { return now >= e.beginTime + e.duration; });
    if (std::none_of(m_implicitAnimations.begin(), m_implicitAnimations.end(),
                     [](const ImplicitAnimation& a) { return a.property == Property::Contents; })) {
        m_previousContents = QImage();
        m_scaledPreviousContents.clear();
    }
}

void Layer::setTreeHost(LayerTreeHost* host)
{
    m_treeHost = host;
    if (host)
        host->layerTreeNeedsDisplay();
}

std::any Layer::valueForKey(const std::string& key) const
{
    using Getter = std::any (*)(const Layer&);
    static const std::map<std::string, Getter, std::less<>> getters = {
        {"bounds", [](const Layer& l) -> std::any { return l.bounds(); }},
        {"position", [](const Layer& l) -> std::any { return l.position(); }},
        {"anchorPoint", [](const Layer& l) -> std::any { return l.anchorPoint(); }},
        {"frame", [](const Layer& l) -> std::any { return l.frame(); }},
        {"transform", [](const Layer& l) -> std::any { return l.transform(); }},
        {"opacity", [](const Layer& l) -> std::any { return l.opacity(); }},
        {"hidden", [](const Layer& l) -> std::any { return l.isHidden(); }},
        {"backgroundColor", [](const Layer& l) -> std::any { return l.backgroundColor(); }},
        {"borderWidth", [](const Layer& l) -> std::any { return l.borderWidth(); }},
        {"borderColor", [](const Layer& l) -> std::any { return l.borderColor(); }},
        {"shadowOpacity", [](const Layer& l) -> std::any { return l.shadowOpacity(); }},
        {"shadowRadius", [](const Layer& l) -> std::any { return l.shadowRadius(); }},
        {"shadowOffset", [](const Layer& l) -> std::any { return l.shadowOffset(); }},
        {"shadowColor", [](const Layer& l) -> std::any { return l.shadowColor(); }},
        {"contents", [](const Layer& l) -> std::any { return l.contents(); }},
        {"contentsGravity", [](const Layer& l) -> std::any { return l.contentsGravity(); }},
        {"mask", [](const Layer& l) -> std::any { return l.mask(); }},
        {"masksToBounds", [](const Layer& l) -> std::any { return l.masksToBounds(); }},
        {"autoresizingMask", [](const Layer& l) -> std::any { return l.autoresizingMask(); }},
        {"name", [](const Layer& l) -> std::any { return l.name(); }},
        {"sublayers", [](const Layer& l) -> std::any { return l.sublayers(); }},
        {"needsLayout", [](const Layer& l) -> std::any { return l.needsLayout(); }},
        {"needsDisplay", [](const Layer& l) -> std::any { return l.needsDisplay(); }},
        {"needsDisplayOnBoundsChange",
         [](const Layer& l) -> std::any { return l.needsDisplayOnBoundsChange(); }},
    };
    if (const auto it = getters.find(key); it != getters.end())
        return it->second(*this);
    if (const auto it = m_attributes.find(key); it != m_attributes.end())
        return it->second;
    return Observable::valueForKey(key);
}

Observable* Layer::observableForKey(const std::string& key) const
{
    if (key == "mask")
        return m_mask.get();
    return Observable::observableForKey(key);
}
