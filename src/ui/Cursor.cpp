#include "ui/Cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace {
int hideCount = 0;
bool hiddenUntilMouseMoves = false;
bool overrideInstalled = false;
} // namespace

void Cursor::hide()
{
    ++hideCount;
    apply();
}

void Cursor::unhide()
{
    if (hideCount > 0)
        --hideCount;
    apply();
}

void Cursor::setHiddenUntilMouseMoves(bool hidden)
{
    hiddenUntilMouseMoves = hidden;
    apply();
}

void Cursor::mouseMoved()
{
    if (hiddenUntilMouseMoves)
        setHiddenUntilMouseMoves(false);
}

bool Cursor::isVisible()
{
    return hideCount == 0 && !hiddenUntilMouseMoves;
}

void Cursor::resetForTesting()
{
    hideCount = 0;
    hiddenUntilMouseMoves = false;
    apply();
}

void Cursor::apply()
{
    const bool hidden = !isVisible();
    if (hidden == overrideInstalled)
        return;
    overrideInstalled = hidden;
    if (hidden)
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}
