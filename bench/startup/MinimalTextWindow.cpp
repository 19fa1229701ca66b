#include "app/FirstFrameReport.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QWidget>

// The reference for the start-up benchmark: the least a Qt Widgets program does to show the
// program's first screen, a window of the program's size painting its loading line, reporting its
// first frame the same way.
namespace {
class TextWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        QFont font(QStringLiteral("Futura"));
        font.setPixelSize(60);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Zuzire: loading."));
    }
};
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The typeface the program draws in, by the same substitution, so both draw the same glyphs.
    QFont::insertSubstitutions(QStringLiteral("Futura"),
                               QStringList{QStringLiteral("BetecknaGS"), QStringLiteral("URW Gothic")});
    TextWindow window;
    window.setWindowTitle(QStringLiteral("Zuzire"));
    window.resize(960, 720);
    FirstFrameReport::installIfRequested(&window);
    window.show();
    return QApplication::exec();
}
