#pragma once

#include <any>
#include <map>
#include <memory>
#include <string>

// An explicit animation object. Besides its timing it stores arbitrary values by key, so callers
// can attach their own data to it. Layers hold animations by shared reference; an animation that
// must refer back to its layer should keep a weak reference, or the two keep each other alive.
class Animation {
public:
    Animation() = default;
    virtual ~Animation();

    static std::shared_ptr<Animation> create();

    // An empty value when the key was never set.
    std::any value(const std::string& key) const;
    // An empty value removes the key.
    void setValue(const std::string& key, std::any value);

    // Seconds; 0 means the duration of the transaction it is added in.
    double duration() const { return m_duration; }
    void setDuration(double seconds) { m_duration = seconds; }

    // Animation-clock seconds; set by the layer when the animation is added.
    double beginTime() const { return m_beginTime; }
    void setBeginTime(double seconds) { m_beginTime = seconds; }

private:
    std::map<std::string, std::any> m_values;
    double m_duration = 0;
    double m_beginTime = 0;
};
