#include "ui/MenuController.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/graphics/TextLayer.h"
#include "support/QMKVOAdditions.h"
#include "ui/HostView.h"
#include "ui/QMColorAdditions.h"
#include "ui/QMLayerAdditions.h"

#include <QJsonArray>
#include <algorithm>

namespace {
// Fewer choices than this leave the lower rows empty, so a short menu keeps readable rows.
constexpr std::size_t minimumRows = 6;
// Of the row height; single precision, as the text layer's font size is.
constexpr double fontToRow = 0.7f;
} // namespace

MenuController::MenuController(QStringList choices)
    : m_choices(std::move(choices))
{
    m_selectorLayer = Layer::create();
    m_selectorLayer->setBorderWidth(1.0);
    layer()->addSublayer(m_selectorLayer);
    m_groupLayer = Layer::create();
    for (const QString& choice : m_choices) {
        auto text = TextLayer::create();
        text->setFont(QStringLiteral("Futura"));
        text->setForegroundColor(qm_CGColor(Color::black()));
        text->setAlignmentMode(TextLayer::AlignmentMode::Center);
        text->setTruncationMode(TextLayer::TruncationMode::End);
        text->setString(choice);
        m_groupLayer->addSublayer(text);
    }
    layer()->addSublayer(m_groupLayer);
    layer()->setNeedsLayout();
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    qm_addObserver<MenuController>(*this, this, "chosenIndex", KeyValueObservingOptions::New);
}

MenuController::~MenuController() = default;

void MenuController::setChosenIndex(std::size_t index)
{
    m_chosenIndex = index;
    didChangeValueForKey("chosenIndex");
}

std::any MenuController::valueForKey(const std::string& key) const
{
    if (key == "chosenIndex")
        return m_chosenIndex;
    return Raroderavarav::valueForKey(key);
}

void MenuController::buttonUp()
{
    if (m_chosenIndex != 0 && m_chosenIndex < std::size_t(m_choices.size()))
        setChosenIndex(m_chosenIndex - 1);
}

void MenuController::buttonDown()
{
    if (m_chosenIndex + 1 < std::size_t(m_choices.size()))
        setChosenIndex(m_chosenIndex + 1);
}

void MenuController::buttonSelect()
{
    // The pop may release this menu (its opener drops it once it has read the choice): nothing
    // may follow it.
    if (HostView* view = hostView())
        view->popController();
}

void MenuController::buttonMenu()
{
    setChosenIndex(noChoice);
    if (HostView* view = hostView())
        view->popController();
}

void MenuController::observeValueForKeyPath(const std::string& keyPath, Observable* object,
                                            const KeyValueChange& change, const void* context)
{
    if (context != QMKVOObservationContext) {
        Raroderavarav::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    if (keyPath == "chosenIndex")
        layer()->setNeedsLayout();
}

void MenuController::layoutSublayersOfLayer(Layer& theLayer)
{
    QM_ASSERT(&theLayer == layer().get(), "Layout own layer only");
    m_selectorLayer->setHidden(true);
    const Rect bounds = theLayer.bounds();
    const Rect area = bounds.insetBy(bounds.width() / 8, bounds.height() / 8);
    const std::size_t rows = std::max(minimumRows, std::size_t(m_choices.size()));
    const double rowHeight = area.height() / double(rows);
    m_groupLayer->setFrame(area);
    const Rect group = m_groupLayer->bounds();
    std::size_t index = 0;
    for (const LayerPtr& sublayer : m_groupLayer->sublayers()) {
        auto* text = static_cast<TextLayer*>(sublayer.get());
        const Rect row(group.minX(), group.maxY() - double(index + 1) * rowHeight, group.width(), rowHeight);
        text->setFrame(qm_pixelAlignRect(*m_groupLayer, row));
        text->setFontSize(fontToRow * rowHeight);
        if (index == m_chosenIndex) {
            m_selectorLayer->setFrame(m_groupLayer->convertRectToLayer(text->frame(), &theLayer));
            m_selectorLayer->setHidden(false);
        }
        ++index;
    }
}

QJsonObject MenuController::describeForAutomation() const
{
    return QJsonObject{{"choices", QJsonArray::fromStringList(m_choices)},
                       {"chosenIndex", m_chosenIndex == noChoice ? qint64(-1) : qint64(m_chosenIndex)}};
}
