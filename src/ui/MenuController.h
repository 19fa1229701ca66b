#pragma once

#include "ui/Raroderavarav.h"

#include <QStringList>
#include <cstddef>
#include <limits>

class TextLayer;

// A full-screen list of text choices with a frame around the chosen one. Up and Down move the
// frame (stopping at the ends), Select closes the menu keeping the choice, Menu closes it with no
// choice. The menu pops itself; whoever pushed it keeps it and reads chosenIndex() once it is
// current again. One menu serves one showing.
//
// Layout: the choices fill the centred rectangle of three quarters of the layer's width and
// height, top down, at least six rows high, each row's font 0.7 of the row height, so the menu
// scales with the window. Main thread only.
class MenuController : public Raroderavarav {
public:
    // All bits set: the menu was closed with Menu.
    static constexpr std::size_t noChoice = std::numeric_limits<std::size_t>::max();

    explicit MenuController(QStringList choices);
    ~MenuController() override;

    const QStringList& choices() const { return m_choices; }

    // Index in choices() of the chosen entry, or noChoice. Observed: every set lays the menu out
    // again.
    std::size_t chosenIndex() const { return m_chosenIndex; }
    void setChosenIndex(std::size_t index);

    void buttonUp() override;
    void buttonDown() override;
    void buttonSelect() override;
    void buttonMenu() override;

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override;
    void layoutSublayersOfLayer(Layer& layer) override;

    std::any valueForKey(const std::string& key) const override;
    QJsonObject describeForAutomation() const override;

    const Layer& selectorLayerForTesting() const { return *m_selectorLayer; }
    const Layer& groupLayerForTesting() const { return *m_groupLayer; }

private:
    std::size_t m_chosenIndex = 0;
    QStringList m_choices;
    LayerPtr m_selectorLayer;
    LayerPtr m_groupLayer;
};
