#include "QMAnimationAdditions.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/graphics/Animation.h"
#include "platform/graphics/Layer.h"

namespace {
const char layerKey[] = "com_quillmoss_animation_layer";
} // namespace

std::shared_ptr<Layer> qm_layer(const Animation& animation)
{
    const std::any value = animation.value(layerKey);
    const auto* layer = std::any_cast<std::weak_ptr<Layer>>(&value);
    return layer ? layer->lock() : nullptr;
}

void qm_setLayer(Animation& animation, const std::shared_ptr<Layer>& layer)
{
    animation.setValue(layerKey, layer ? std::any(std::weak_ptr<Layer>(layer)) : std::any());
}

void qm_addToLayer(const std::shared_ptr<Animation>& animation, const std::shared_ptr<Layer>& layer)
{
    if (!animation)
        return;
    qm_setLayer(*animation, layer);
    if (!layer)
        return;
    layer->addAnimation(animation, std::nullopt);
    QM_CASSERT(!layer->animationForKey(std::nullopt), "Animation",
               "No animation should be returned for nil key");
}
