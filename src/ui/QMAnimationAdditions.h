#pragma once

#include <memory>

class Animation;
class Layer;

// A layer carried by an animation, stored in the animation's key–value storage under
// "com_quillmoss_animation_layer". The reference is weak: the layer holds its animations, and a
// strong reference back would keep both alive for ever. So qm_layer() is null once the layer is
// gone, as it is when none was set.
std::shared_ptr<Layer> qm_layer(const Animation& animation);
// A null layer clears the reference.
void qm_setLayer(Animation& animation, const std::shared_ptr<Layer>& layer);

// Remembers `layer` in `animation` and adds the animation to it without a key. Nothing happens to
// a null animation; a null layer only clears the reference. Fails with "No animation should be
// returned for nil key" should the layer hand out an animation for the absent key.
void qm_addToLayer(const std::shared_ptr<Animation>& animation, const std::shared_ptr<Layer>& layer);
