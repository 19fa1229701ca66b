#include "app/Automation.h"

#include "app/AppDelegate.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/Resources.h"
#include "platform/graphics/TextLayer.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <unistd.h>

namespace {
// An hour is longer than any script needs; beyond that a typo would hang the run.
constexpr double maxWaitSeconds = 3600;
// Twice a 4K screen's width: larger windows only exhaust memory in the frame buffer.
constexpr int maxWindowSide = 8192;
// A command is a few words and perhaps a file path; a longer line is a mistake, and keeping it
// whole would only cost memory.
constexpr qsizetype maxLineBytes = 64 * 1024;

void collectVisibleTexts(const Layer& layer, QJsonArray& texts)
{
    if (layer.isHidden() || layer.opacity() <= 0)
        return;
    if (const auto* text = dynamic_cast<const TextLayer*>(&layer); text && !text->string().isEmpty())
        texts.append(text->string());
    for (const LayerPtr& sublayer : layer.sublayers())
        collectVisibleTexts(*sublayer, texts);
}

std::optional<int> buttonNamed(const QString& name)
{
    static const QStringList names = {"up", "down", "left", "right", "select", "menu"};
    const auto index = names.indexOf(name.toLower());
    return index < 0 ? std::nullopt : std::optional<int>(static_cast<int>(index));
}

struct KeyName {
    const char* name;
    Qt::Key key;
    const char* text;
};

constexpr KeyName keyNames[] = {
    {"up", Qt::Key_Up, ""},
    {"down", Qt::Key_Down, ""},
    {"left", Qt::Key_Left, ""},
    {"right", Qt::Key_Right, ""},
    {"return", Qt::Key_Return, "\r"},
    {"enter", Qt::Key_Enter, "\r"},
    {"escape", Qt::Key_Escape, "\x1b"},
    {"backspace", Qt::Key_Backspace, "\b"},
    {"delete", Qt::Key_Delete, "\x7f"},
    {"menu", Qt::Key_Menu, ""},
    {"space", Qt::Key_Space, " "},
    {"tab", Qt::Key_Tab, "\t"},
};
} // namespace

Automation::Automation(AppDelegate& delegate, HostView& hostView, std::function<void(const QString&)> output)
    : m_delegate(delegate)
    , m_hostView(&hostView)
    , m_output(std::move(output))
{}

void Automation::start(int fileDescriptor)
{
    m_fileDescriptor = fileDescriptor;
    m_notifier = new QSocketNotifier(fileDescriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Automation::readAvailable);
}

void Automation::readAvailable()
{
    char buffer[65536];
    const ssize_t count = ::read(m_fileDescriptor, buffer, sizeof buffer);
    if (count <= 0) {
        m_notifier->setEnabled(false);
        endOfInput();
        return;
    }
    consume(QByteArrayView(buffer, static_cast<qsizetype>(count)));
}

void Automation::consume(QByteArrayView bytes)
{
    // Every byte read is looked at once: the unfinished line is kept, never searched again.
    for (qsizetype newline; (newline = bytes.indexOf('\n')) >= 0; bytes = bytes.sliced(newline + 1)) {
        appendToLine(bytes.first(newline));
        finishLine();
    }
    appendToLine(bytes);
}

void Automation::appendToLine(QByteArrayView bytes)
{
    if (m_lineTooLong)
        return;
    if (m_pending.size() + bytes.size() <= maxLineBytes) {
        m_pending.append(bytes);
        return;
    }
    // Answered at once, in its turn; the rest of the line is dropped as it comes.
    m_lineTooLong = true;
    m_pending.clear();
    enqueue([this] {
        answer(QStringLiteral("error: a line holds at most %1 bytes").arg(maxLineBytes));
        return true;
    });
}

void Automation::finishLine()
{
    if (!m_lineTooLong)
        submit(QString::fromUtf8(m_pending));
    m_pending.clear();
    m_lineTooLong = false;
}

void Automation::endOfInput()
{
    finishLine();
    // Whatever is still queued runs first; then the program ends as `quit` would end it.
    enqueue([this] {
        m_delegate.terminate();
        return true;
    });
}

void Automation::submit(const QString& line)
{
    if (line.trimmed().isEmpty())
        return;
    enqueue([this, command = line.trimmed()] { return run(command); });
}

void Automation::enqueue(std::function<bool()> step)
{
    m_queue.append(std::move(step));
    if (!m_busy)
        runNext();
}

void Automation::runNext()
{
    while (!m_busy && !m_queue.isEmpty()) {
        const auto next = m_queue.takeFirst();
        m_busy = true;
        if (next())
            m_busy = false;
    }
}

void Automation::answer(const QString& text)
{
    m_output(text);
}

bool Automation::run(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString command = words.first().toLower();
    if (command == "tree") {
        answer(treeJson());
    } else if (command == "screenshot") {
        answer(screenshot(words));
    } else if (command == "resize") {
        answer(resize(words));
    } else if (command == "fullscreen") {
        m_delegate.toggleFullScreen();
        answer(QStringLiteral("ok"));
    } else if (command == "press") {
        answer(press(words));
    } else if (command == "key") {
        answer(key(words));
    } else if (command == "wait") {
        bool ok = false;
        const double seconds = words.value(1).toDouble(&ok);
        // NaN fails every comparison, so the range is written to let only good values through.
        if (!ok || !(seconds >= 0 && seconds <= maxWaitSeconds)) {
            answer(QStringLiteral("error: wait takes a number of seconds from 0 to %1").arg(maxWaitSeconds));
            return true;
        }
        QTimer::singleShot(static_cast<int>(std::lround(seconds * 1000)), this, [this] {
            answer(QStringLiteral("ok"));
            m_busy = false;
            runNext();
        });
        return false;
    } else if (command == "quit") {
        answer(QStringLiteral("ok"));
        m_delegate.terminate();
    } else {
        answer(QStringLiteral("error: unknown command: %1").arg(command));
    }
    return true;
}

QString Automation::treeJson() const
{
    QJsonObject tree;
    QJsonArray controllers;
    QJsonArray texts;
    if (m_hostView) {
        for (const ControllerPtr& controller : m_hostView->controllers()) {
            const Raroderavarav& screen = *controller;
            controllers.append(QString::fromStdString(qmClassName(typeid(screen))));
        }
        collectVisibleTexts(*m_hostView->layer(), texts);
        // What the current screen tells of itself (a rating pass: its position and photos).
        if (const Raroderavarav* current = m_hostView->currentController()) {
            if (QJsonObject screen = current->describeForAutomation(); !screen.isEmpty())
                tree["screen"] = screen;
        }
        tree["fullScreen"] = m_hostView->isInFullScreenMode();
        tree["size"] = QJsonObject{{"width", m_hostView->width()}, {"height", m_hostView->height()}};
        tree["active"] = m_hostView->isActiveWindow();
        tree["focus"] = QApplication::focusWidget() == m_hostView;
    }
    tree["pointerVisible"] = Cursor::isVisible();
    tree["resources"] = Resources::directory();
    tree["controllers"] = controllers;
    tree["texts"] = texts;
    return QString::fromUtf8(QJsonDocument(tree).toJson(QJsonDocument::Compact));
}

QString Automation::screenshot(const QStringList& words)
{
    if (words.size() < 2)
        return QStringLiteral("error: screenshot takes a file path");
    const QString path = words.mid(1).join(QLatin1Char(' '));
    if (!m_hostView || !m_hostView->grab().save(path, "PNG"))
        return QStringLiteral("error: could not write %1").arg(path);
    return QStringLiteral("ok %1").arg(path);
}

QString Automation::resize(const QStringList& words)
{
    bool widthOk = false;
    bool heightOk = false;
    const int width = words.value(1).toInt(&widthOk);
    const int height = words.value(2).toInt(&heightOk);
    if (!widthOk || !heightOk || width <= 0 || height <= 0 || width > maxWindowSide || height > maxWindowSide)
        return QStringLiteral("error: resize takes a width and a height in pixels, from 1 to %1")
            .arg(maxWindowSide);
    if (m_hostView)
        m_hostView->resize(width, height);
    return QStringLiteral("ok");
}

QString Automation::press(const QStringList& words)
{
    const auto button = buttonNamed(words.value(1));
    if (!button)
        return QStringLiteral("error: press takes Up, Down, Left, Right, Select or Menu");
    if (m_hostView)
        m_hostView->performButton(*button);
    return QStringLiteral("ok");
}

QString Automation::key(const QStringList& words)
{
    const QString name = words.value(1).toLower();
    for (const KeyName& known : keyNames) {
        if (name != QLatin1String(known.name))
            continue;
        if (m_hostView) {
            QKeyEvent press(QEvent::KeyPress, known.key, Qt::NoModifier, QString::fromLatin1(known.text));
            QKeyEvent release(QEvent::KeyRelease, known.key, Qt::NoModifier, QString::fromLatin1(known.text));
            // Through the window, as the keyboard's events come, so shortcuts and focus apply.
            QObject* receiver = m_hostView->windowHandle() ? static_cast<QObject*>(m_hostView->windowHandle())
                                                           : static_cast<QObject*>(m_hostView.data());
            QCoreApplication::sendEvent(receiver, &press);
            QCoreApplication::sendEvent(receiver, &release);
        }
        return QStringLiteral("ok");
    }
    return QStringLiteral("error: unknown key: %1").arg(words.value(1));
}
