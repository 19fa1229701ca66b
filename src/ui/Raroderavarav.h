#pragma once

#include "platform/foundation/KeyValueObserver.h"
#include "platform/foundation/Observable.h"
#include "platform/graphics/Layer.h"

#include <QJsonObject>
#include <memory>

class HostView;

// The base of every screen: one content layer that the host view shows while the controller is
// current, an optional overlay that stays above everything pushed later, four appearance
// callbacks and the six buttons. The base does nothing on any of them. Main thread only.
//
// Controllers observe their own properties (through qm_addObserver()), so every controller is
// both observable and an observer; "layer" can lead a key path ("layer.bounds").
//
// Controllers are shared: create them with std::make_shared. The host view's stack keeps the
// controllers on it alive; whoever opened one may keep it to read its result after it popped.
class Raroderavarav : public LayoutManager, public Observable, public KeyValueObserver {
public:
    Raroderavarav();
    ~Raroderavarav() override;
    Raroderavarav(const Raroderavarav&) = delete;
    Raroderavarav& operator=(const Raroderavarav&) = delete;

    virtual void layerWillAppear() {}
    virtual void layerWillDisappear() {}
    virtual void layerDidAppear() {}
    virtual void layerDidDisappear() {}

    // A layer that stays on screen above every controller pushed after this one; the same layer
    // every time, or null.
    virtual LayerPtr overlayLayer() const { return nullptr; }

    virtual void buttonUp() {}
    virtual void buttonDown() {}
    virtual void buttonLeft() {}
    virtual void buttonRight() {}
    virtual void buttonSelect() {}
    virtual void buttonMenu() {}

    // The content layer: created with the controller, never replaced. The host view sizes it.
    const LayerPtr& layer() const { return m_layer; }

    // The host view whose stack holds this controller, or null when it is on none.
    HostView* hostView() const { return m_hostView; }
    void setHostView(HostView* hostView) { m_hostView = hostView; }
    // The controller that was current when this one was pushed; null for the bottom one.
    Raroderavarav* parentController() const { return m_parentController; }
    void setParentController(Raroderavarav* parent) { m_parentController = parent; }

    // What automation reports of this screen beside its class: a read-out of its state, empty
    // for a screen with nothing to add.
    virtual QJsonObject describeForAutomation() const { return {}; }

    // The base lays nothing out.
    void layoutSublayersOfLayer(Layer& /*layer*/) override {}

    std::any valueForKey(const std::string& key) const override;
    Observable* observableForKey(const std::string& key) const override;

private:
    LayerPtr m_layer;
    HostView* m_hostView = nullptr;              // non-owning: the view's stack owns us
    Raroderavarav* m_parentController = nullptr; // non-owning: below us on the same stack
};

using ControllerPtr = std::shared_ptr<Raroderavarav>;
