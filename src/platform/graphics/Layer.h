#pragma once

#include "Animation.h"
#include "Color.h"
#include "Geometry.h"
#include "LayerDelegate.h"
#include "LayerState.h"
#include "LayerTreeHost.h"
#include "LayoutManager.h"
#include "ScaledImageCopy.h"
#include "platform/foundation/Observable.h"

#include <QImage>
#include <QTransform>
#include <QVariant>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DrawingContext;
class Layer;
using LayerPtr = std::shared_ptr<Layer>;

// How contents are placed in the bounds.
enum class ContentsGravity {
    Center,
    Top,
    Bottom,
    Left,
    Right,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
    Resize,
    ResizeAspect,
    ResizeAspectFill
};

// Which parts of a sublayer's frame stretch when its superlayer's bounds size changes.
enum class AutoresizingMask : unsigned {
    NotSizable = 0,
    FlexibleMinXMargin = 1u << 0,
    FlexibleWidth = 1u << 1,
    FlexibleMaxXMargin = 1u << 2,
    FlexibleMinYMargin = 1u << 3,
    FlexibleHeight = 1u << 4,
    FlexibleMaxYMargin = 1u << 5,
    MinXMargin = FlexibleMinXMargin,
    WidthSizable = FlexibleWidth,
    MaxXMargin = FlexibleMaxXMargin,
    MinYMargin = FlexibleMinYMargin,
    HeightSizable = FlexibleHeight,
    MaxYMargin = FlexibleMaxYMargin,
};

constexpr AutoresizingMask operator|(AutoresizingMask a, AutoresizingMask b)
{
    return AutoresizingMask(unsigned(a) | unsigned(b));
}

constexpr bool operator&(AutoresizingMask a, AutoresizingMask b)
{
    return (unsigned(a) & unsigned(b)) != 0;
}

// A node of the retained layer tree. Plain C++, main thread only. A layer owns its sublayers and
// its mask; its superlayer, layout manager, delegate and tree host are non-owning.
//
// Property setters change the model value at once (getters return it immediately). When the
// layer is in a tree whose root has a host, the change is also animated on screen from the value
// shown now (the presentation) over the current transaction's duration (0.25 s by default), unless
// actions are disabled in the transaction or the action table maps the property's key to none.
//
// Geometry is y up, in points. `bounds` is in the layer's own coordinate space; `position` and
// `frame` are in the superlayer's.
//
// Every setter call is announced to key-value observers under the property's name, changed value
// or not; setting the frame announces "bounds" and "position" and then "frame", and setting an
// attribute announces the attribute's key. valueForKey() reads the properties with the getters'
// types ("mask" as a LayerPtr, attributes as a QVariant), and "mask" can lead a dotted key path.
class Layer : public Observable, public std::enable_shared_from_this<Layer> {
public:
    // Keys of an action table that map to no action.
    using ActionTable = std::map<std::string, std::shared_ptr<Animation>>;

    using ContentsGravity = ::ContentsGravity;
    using AutoresizingMask = ::AutoresizingMask;

    static LayerPtr create();
    virtual ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // A short kind for dumps: "Layer", "TextLayer", ...
    virtual std::string kindName() const;

    Rect bounds() const { return m_model.bounds; }
    void setBounds(const Rect& bounds);
    Point position() const { return m_model.position; }
    void setPosition(Point position);
    // Unit coordinates of the bounds; default (0.5, 0.5).
    Point anchorPoint() const { return m_model.anchorPoint; }
    void setAnchorPoint(Point anchorPoint);
    // In superlayer coordinates. Setting it sets the bounds size and the position (keeping the
    // bounds origin), as with an identity transform.
    Rect frame() const { return m_model.frame(); }
    void setFrame(const Rect& frame);
    // Applied about the anchor point, y up.
    QTransform transform() const { return m_model.transform; }
    void setTransform(const QTransform& transform);

    double opacity() const { return m_model.opacity; }
    void setOpacity(double opacity);
    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden);

    std::optional<Color> backgroundColor() const { return m_model.backgroundColor; }
    void setBackgroundColor(std::optional<Color> color);
    // Points.
    double borderWidth() const { return m_model.borderWidth; }
    void setBorderWidth(double width);
    Color borderColor() const { return m_model.borderColor; }
    void setBorderColor(const Color& color);

    double shadowOpacity() const { return m_model.shadowOpacity; }
    void setShadowOpacity(double opacity);
    // Points.
    double shadowRadius() const { return m_model.shadowRadius; }
    void setShadowRadius(double radius);
    // Points, y up; default (0, -3).
    Size shadowOffset() const { return m_model.shadowOffset; }
    void setShadowOffset(Size offset);
    Color shadowColor() const { return m_model.shadowColor; }
    void setShadowColor(const Color& color);

    // One image pixel per point when unscaled. A null image means no contents.
    const QImage& contents() const { return m_contents; }
    void setContents(const QImage& contents);
    ContentsGravity contentsGravity() const { return m_contentsGravity; }
    void setContentsGravity(ContentsGravity gravity);

    // Only the mask's alpha matters; it lies in this layer's coordinate space.
    LayerPtr mask() const { return m_mask; }
    void setMask(LayerPtr mask);
    bool masksToBounds() const { return m_masksToBounds; }
    void setMasksToBounds(bool masks);

    AutoresizingMask autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(AutoresizingMask mask);

    const std::string& name() const { return m_name; }
    void setName(std::string name);

    // Arbitrary per-layer values; an invalid QVariant removes the key.
    QVariant attribute(const std::string& key) const;
    void setAttribute(const std::string& key, QVariant value);

    // A key mapped to a null animation has no implicit animation ("bounds", "position",
    // "frame", "opacity", "contents", "sublayers", ...). A non-null entry animates with its own
    // duration when it has one.
    const ActionTable& actions() const { return m_actions; }
    void setActions(ActionTable actions);

    // Tree structure. Sublayers are listed bottom first.
    Layer* superlayer() const { return m_superlayer; }
    const std::vector<LayerPtr>& sublayers() const { return m_sublayers; }
    // Adds on top; a layer in another parent is taken out of it first.
    void addSublayer(LayerPtr layer);
    void insertSublayerAt(LayerPtr layer, size_t index);
    // A sibling that is not a sublayer puts the layer at the bottom (below) or on top (above).
    void insertSublayerBelow(LayerPtr layer, const Layer* sibling);
    void insertSublayerAbove(LayerPtr layer, const Layer* sibling);
    // Puts `newLayer` at the index of `oldLayer`; a null `newLayer` just removes the old one.
    void replaceSublayer(const Layer* oldLayer, LayerPtr newLayer);
    void removeFromSuperlayer();
    // The topmost ancestor (this layer when it has no superlayer).
    Layer* rootLayer();
    const Layer* rootLayer() const;

    // Conversions between the coordinate spaces of two layers of one tree; a null `other` is the
    // root layer's space. Model values.
    Point convertPointToLayer(Point point, const Layer* other) const;
    Point convertPointFromLayer(Point point, const Layer* other) const;
    Rect convertRectToLayer(const Rect& rect, const Layer* other) const;
    Rect convertRectFromLayer(const Rect& rect, const Layer* other) const;

    // Layout. The manager is non-owning.
    LayoutManager* layoutManager() const { return m_layoutManager; }
    void setLayoutManager(LayoutManager* manager);
    void setNeedsLayout();
    bool needsLayout() const { return m_needsLayout; }
    // Lays out the sublayers now: calls the layout manager, if any. (Autoresizing is applied as
    // soon as the bounds size changes, with or without a manager.)
    virtual void layoutSublayers();
    // Lays out this layer, if marked, then its subtree top-down, each layer only when marked.
    // Layers marked by a layout further down are handled in the same pass. On a tree's root, a
    // device scale other than the one of its last layout marks every layer of the tree first.
    void layoutIfNeeded();
    // Marks this layer and every layer below it as needing layout. (Masks are redrawn, not laid
    // out: the painter redraws a delegate's drawing at each new scale.)
    void setNeedsLayoutThroughout();

    // Drawing by a delegate (non-owning). Its drawing is kept until display is requested again.
    LayerDelegate* delegate() const { return m_delegate; }
    void setDelegate(LayerDelegate* delegate);
    void setNeedsDisplay();
    bool needsDisplay() const { return m_needsDisplay; }
    bool needsDisplayOnBoundsChange() const { return m_needsDisplayOnBoundsChange; }
    void setNeedsDisplayOnBoundsChange(bool needs);
    // Redraws the delegate's drawing now when marked, or when it was drawn at another `scale`
    // (device pixels per point, so drawings stay sharp on dense screens). Called by the painter.
    void displayIfNeeded(double scale = 1.0);
    // The delegate's last drawing, `backingScale()` pixels per point of the bounds (its
    // devicePixelRatio() says the same); null when none.
    const QImage& backingImage() const { return m_backingImage; }
    double backingScale() const { return m_backingScale; }

    // Explicit animations. A null key holds any number of animations, none retrievable.
    void addAnimation(std::shared_ptr<Animation> animation, std::optional<std::string> key);
    std::shared_ptr<Animation> animationForKey(std::optional<std::string> key) const;
    void removeAnimationForKey(const std::string& key);
    void removeAllAnimations();

    // The model values, without a copy.
    const LayerState& modelState() const { return m_model; }
    // The values on screen at the animation clock's now.
    LayerState presentation() const;
    Rect presentationFrame() const { return presentation().frame(); }
    Rect presentationBounds() const { return presentation().bounds; }
    Point presentationPosition() const { return presentation().position; }
    double presentationOpacity() const { return presentation().opacity; }
    // Contents that are fading out under new ones; null when none.
    const QImage& previousContents() const { return m_previousContents; }
    // Copies of contents() and previousContents() at the size the painter last drew them,
    // dropped with the contents they were made from.
    ScaledImageCopy& scaledContents() { return m_scaledContents; }
    ScaledImageCopy& scaledPreviousContents() { return m_scaledPreviousContents; }
    // Counts every change to this layer and to any layer below it or in its mask (properties,
    // sublayers, delegate drawings); what is drawn from the subtree can be kept while it stays.
    std::uint64_t subtreeRevision() const { return m_subtreeRevision; }
    // The painter's last blurred silhouette of this layer (its shadow when it is more than a
    // plain rectangle), with what it was made from.
    struct KeptShadow {
        std::uint64_t revision = 0;
        QTransform toDevice;
        QRect area;
        double radius = 0;
        QRgb color = 0;
        QImage image;
    };
    KeptShadow& keptShadow() { return m_keptShadow; }
    // The painter's last drawings of parts of this layer through its mask (device pixels), with
    // the subtree revision and device transform they were made at.
    struct KeptMaskedArea {
        std::uint64_t revision = 0;
        QTransform toDevice;
        QRect area;
        QImage image;
    };
    std::vector<KeptMaskedArea>& keptMaskedAreas() { return m_keptMaskedAreas; }
    // Animations of this layer alone, ended or not (ended ones go at the next prune).
    bool hasOwnAnimations() const { return !m_implicitAnimations.empty() || !m_animations.empty(); }
    // Any implicit or explicit animation of this layer or its subtree (mask included) that has
    // not ended at the clock's now.
    bool hasRunningAnimations() const;
    // Forgets implicit animations that have ended; called by the painter once per frame.
    void pruneFinishedAnimations();
    // Property changes animate only once the layer has been on screen (there is nothing to
    // animate from before); the painter marks each layer it visits.
    bool isPresented() const { return m_presented; }
    void markPresented() { m_presented = true; }

    // The host of the tree this layer is the root of (non-owning). Changes anywhere in the tree
    // are reported to it.
    LayerTreeHost* treeHost() const { return m_treeHost; }
    void setTreeHost(LayerTreeHost* host);
    // Device pixels per point of the host of the tree this layer is in; 1 without a host.
    double deviceScale() const;

    std::any valueForKey(const std::string& key) const override;
    Observable* observableForKey(const std::string& key) const override;

protected:
    Layer();

    // For subclasses: announce a setter call of their own properties to observers and report it
    // to the tree's host.
    void propertyDidChange(const char* key);
    // Counts a change of this layer in its own and its ancestors' subtree revisions.
    void noteSubtreeChange();

private:
    enum class Property {
        Bounds,
        Position,
        AnchorPoint,
        Transform,
        Opacity,
        BackgroundColor,
        BorderWidth,
        BorderColor,
        ShadowOpacity,
        ShadowRadius,
        ShadowOffset,
        ShadowColor,
        Contents
    };
    struct ImplicitAnimation {
        Property property;
        LayerState from;
        double beginTime;
        double duration;
    };
    struct KeyedAnimation {
        std::optional<std::string> key;
        std::shared_ptr<Animation> animation;
        double beginTime;
        double duration;
    };

    void changeBounds(const Rect& bounds, bool viaFrame);
    void changePosition(Point position, bool viaFrame);
    std::optional<double> implicitDuration(const char* key, const char* fallbackKey = nullptr) const;
    void animateFrom(Property property, const LayerState& presented, const char* key,
                     const char* fallbackKey = nullptr);
    // Stores a new model value, animates it on screen when it differs, and announces the setter
    // call in any case.
    template <typename T>
    void setAnimatable(T LayerState::*field, const T& value, Property property, const char* key)
    {
        if (m_model.*field != value) {
            const LayerState presented = presentation();
            m_model.*field = value;
            animateFrom(property, presented, key);
        }
        propertyDidChange(key);
    }
    void applyImplicitAnimation(const ImplicitAnimation& animation, double t, LayerState& state) const;
    void applyExplicitAnimation(const KeyedAnimation& entry, double t, LayerState& state) const;
    void markSubtreeNeedsLayout();
    void attachSublayer(LayerPtr layer, size_t index);
    void detachSublayer(const Layer* layer);
    void autoresizeSublayers(Size oldSize);
    void autoresizeWithOldSuperlayerSize(Size oldSize, Size newSize);
    LayerTreeHost* hostOfTree() const;
    QTransform toRoot() const;

    LayerState m_model;
    bool m_hidden = false;
    QImage m_contents;
    QImage m_previousContents;
    ScaledImageCopy m_scaledContents;
    ScaledImageCopy m_scaledPreviousContents;
    ContentsGravity m_contentsGravity = ContentsGravity::Resize;
    LayerPtr m_mask;
    bool m_masksToBounds = false;
    AutoresizingMask m_autoresizingMask = AutoresizingMask::NotSizable;
    std::string m_name;
    std::map<std::string, QVariant> m_attributes;
    ActionTable m_actions;

    Layer* m_superlayer = nullptr; // non-owning; the superlayer owns this layer
    // Set on a mask: the layer it masks (non-owning), which stands in for the superlayer when
    // changes are reported to the tree's host.
    Layer* m_maskedLayer = nullptr;
    std::vector<LayerPtr> m_sublayers;

    LayoutManager* m_layoutManager = nullptr; // non-owning
    bool m_needsLayout = false;
    // Some layer below this one needs layout.
    bool m_subtreeNeedsLayout = false;
    // On a root: the device scale of its last layout; 0 before the first.
    double m_laidOutDeviceScale = 0;
    // Drawn at least once: only then is there a value on screen to animate from.
    bool m_presented = false;

    LayerDelegate* m_delegate = nullptr; // non-owning
    bool m_needsDisplay = false;
    bool m_needsDisplayOnBoundsChange = false;
    QImage m_backingImage;
    double m_backingScale = 1.0;

    std::vector<ImplicitAnimation> m_implicitAnimations;
    std::vector<KeyedAnimation> m_animations;

    LayerTreeHost* m_treeHost = nullptr; // non-owning
    std::uint64_t m_subtreeRevision = 0;
    KeptShadow m_keptShadow;
    std::vector<KeptMaskedArea> m_keptMaskedAreas;
};
