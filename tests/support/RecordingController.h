#pragma once

#include "ui/HostView.h"
#include "ui/Raroderavarav.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A controller that writes every callback it receives into a shared log, as "<name> <callback>",
// and can run a hook from any of its appearance callbacks. Header-only: only tests that link the
// screens use it.
class RecordingController : public Raroderavarav {
public:
    using Log = std::vector<std::string>;

    RecordingController(std::string name, std::shared_ptr<Log> log, LayerPtr overlay = nullptr)
        : m_name(std::move(name))
        , m_log(std::move(log))
        , m_overlay(std::move(overlay))
    {
        layer()->setName(m_name);
    }

    void layerWillAppear() override { record("layerWillAppear", m_onWillAppear); }
    void layerWillDisappear() override { record("layerWillDisappear", m_onWillDisappear); }
    void layerDidAppear() override { record("layerDidAppear", m_onDidAppear); }
    void layerDidDisappear() override { record("layerDidDisappear", m_onDidDisappear); }
    LayerPtr overlayLayer() const override { return m_overlay; }

    void buttonUp() override { record("buttonUp"); }
    void buttonDown() override { record("buttonDown"); }
    void buttonLeft() override { record("buttonLeft"); }
    void buttonRight() override { record("buttonRight"); }
    void buttonSelect() override { record("buttonSelect"); }
    void buttonMenu() override { record("buttonMenu"); }

    std::function<void()> m_onWillAppear;
    std::function<void()> m_onWillDisappear;
    std::function<void()> m_onDidAppear;
    std::function<void()> m_onDidDisappear;
    // Also record the host view and parent seen at each callback.
    bool m_recordLinks = false;

private:
    void record(const std::string& callback, const std::function<void()>& hook = {})
    {
        std::string entry = m_name + " " + callback;
        if (m_recordLinks)
            entry += std::string(hostView() ? " host" : " nohost") +
                     (parentController() ? " parent" : " noparent");
        m_log->push_back(entry);
        if (hook)
            hook();
    }

    std::string m_name;
    std::shared_ptr<Log> m_log;
    LayerPtr m_overlay;
};
