#include "rating/AlbumController.h"

#include "ui/HostView.h"
#include "ui/QMColorAdditions.h"

namespace {
constexpr double rowHeight = 50;
constexpr double margin = 40;

QString nameOf(const PlistPtr& album)
{
    const PlistPtr name = album ? album->objectForKey("name") : nullptr;
    return name && name->asString() ? QString::fromStdString(*name->asString()) : QString();
}
} // namespace

AlbumController::AlbumController(PlistArray albums)
    : m_albums(std::move(albums))
{
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    for (const PlistPtr& album : m_albums) {
        auto nameLayer = TextLayer::create();
        nameLayer->setFont(QStringLiteral("Futura"));
        nameLayer->setForegroundColor(qm_CGColor(Color::white(0, 1)));
        nameLayer->setString(nameOf(album));
        layer()->addSublayer(nameLayer);
        m_nameLayers.push_back(std::move(nameLayer));
    }
    showSelection();
    layer()->setNeedsLayout();
}

void AlbumController::setPosition(size_t position)
{
    m_position = position;
    showSelection();
}

void AlbumController::showSelection()
{
    for (size_t index = 0; index < m_nameLayers.size(); ++index) {
        const QString marker = index == m_position ? QStringLiteral("\u2605 ") : QStringLiteral("    ");
        m_nameLayers[index]->setString(marker + nameOf(m_albums[index]));
    }
}

void AlbumController::buttonUp()
{
    if (m_position > 0)
        setPosition(m_position - 1);
}

void AlbumController::buttonDown()
{
    if (m_position + 1 < m_albums.size())
        setPosition(m_position + 1);
}

void AlbumController::buttonSelect()
{
    if (hostView())
        hostView()->popController();
}

void AlbumController::layoutSublayersOfLayer(Layer& theLayer)
{
    if (&theLayer != layer().get())
        return;
    const Rect bounds = theLayer.bounds();
    double top = bounds.maxY() - margin;
    for (const auto& nameLayer : m_nameLayers) {
        nameLayer->setFrame(Rect(margin, top - rowHeight, bounds.width() - 2 * margin, rowHeight));
        top -= rowHeight;
    }
}
