#include "rating/StageController.h"

#include "ui/HostView.h"
#include "ui/QMColorAdditions.h"

StageController::StageController(PlistArray items, int stages)
    : m_items(std::move(items))
    , m_stages(stages)
{
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    m_titleLayer = TextLayer::create();
    m_titleLayer->setFont(QStringLiteral("Futura"));
    m_titleLayer->setForegroundColor(qm_CGColor(Color::white(0, 1)));
    m_titleLayer->setAlignmentMode(TextLayer::AlignmentMode::Center);
    m_titleLayer->setString(QStringLiteral("%1 photos, %2 passes").arg(m_items.size()).arg(m_stages));
    layer()->addSublayer(m_titleLayer);
    layer()->setNeedsLayout();
}

void StageController::close()
{
    if (hostView())
        hostView()->popController();
}

void StageController::layoutSublayersOfLayer(Layer& theLayer)
{
    if (&theLayer != layer().get())
        return;
    const Rect bounds = theLayer.bounds();
    m_titleLayer->setFrame(Rect(0, bounds.midY() - 30, bounds.width(), 60));
}
