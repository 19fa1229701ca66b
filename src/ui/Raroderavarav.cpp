#include "ui/Raroderavarav.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"

Raroderavarav::Raroderavarav()
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    m_layer = Layer::create();
    m_layer->setLayoutManager(this);
}

Raroderavarav::~Raroderavarav()
{
    // Someone may still hold the layer; it must not call back into a controller that is gone.
    if (m_layer && m_layer->layoutManager() == this)
        m_layer->setLayoutManager(nullptr);
}

std::any Raroderavarav::valueForKey(const std::string& key) const
{
    if (key == "layer")
        return m_layer;
    return Observable::valueForKey(key);
}

Observable* Raroderavarav::observableForKey(const std::string& key) const
{
    if (key == "layer")
        return m_layer.get();
    return Observable::observableForKey(key);
}
