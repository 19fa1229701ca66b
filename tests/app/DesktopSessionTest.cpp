#include "support/DesktopSession.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <algorithm>
#include <gtest/gtest.h>

// The program as a user meets it on a real desktop. CTest runs this binary again on a virtual X
// display under a window manager (xvfb-run, ZUZIRE_DESKTOP_SESSION=x11) and on a headless
// Wayland compositor (ZUZIRE_DESKTOP_SESSION=wayland); everywhere else these tests skip.
namespace {
// Mean grey level of an image, 0 (black) to 255 (white).
double brightness(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            sum += grey.constScanLine(y)[x];
    return sum / (double(grey.width()) * grey.height());
}

// The share of an image's pixels in clear colour: none on the first screen, white behind black
// text; a good part on the album picker, whose photos slide in below the album's name.
double colouredShare(const QImage& image)
{
    // A sample of the pixels is enough for a share, and quick on a full screen.
    const QImage sample = image.scaled(image.size() / 8);
    qint64 coloured = 0;
    for (int y = 0; y < sample.height(); ++y)
        for (int x = 0; x < sample.width(); ++x)
            coloured += sample.pixelColor(x, y).hsvSaturation() > 64;
    return double(coloured) / std::max(1.0, double(sample.width()) * sample.height());
}

int xdotool(const QStringList& arguments)
{
    return QProcess::execute("xdotool", arguments);
}

// On X: the xcb platform under a window manager, real key events through the X server.
class DesktopSessionTest : public DesktopSession {
protected:
    void SetUp() override
    {
        // Never on the user's own desktop: only on the virtual display CTest starts for it.
        if (qEnvironmentVariable("ZUZIRE_DESKTOP_SESSION") != "x11" || qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "runs on a virtual X display, as CTest's DesktopSessionOnXvfb (needs xvfb-run)";
        for (const char* tool : {"openbox", "xdotool"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is missing: run scripts/setup.sh";
        }
        // The window manager's own full-screen key, for the pointer check.
        QFile rc(folder.filePath("rc.xml"));
        ASSERT_TRUE(rc.open(QIODevice::WriteOnly));
        rc.write("<?xml version=\"1.0\"?><openbox_config xmlns=\"http://openbox.org/3.4/rc\"><keyboard>"
                 "<keybind key=\"W-F11\"><action name=\"ToggleFullscreen\"/></keybind>"
                 "</keyboard></openbox_config>\n");
        rc.close();
        windowManager.start("openbox", {"--config-file", rc.fileName()});
        ASSERT_TRUE(windowManager.waitForStarted(limitMs));
        // openbox takes the screen asynchronously; a managed window is what the tests need.
        QThread::msleep(500);
    }

    void TearDown() override
    {
        DesktopSession::TearDown();
        windowManager.terminate();
        windowManager.waitForFinished(limitMs);
    }

    void start(const QStringList& arguments = {}, const QString& configHome = {},
               QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        launch("xcb", arguments, configHome, environment);
        QProcess search;
        search.start("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Zuzire$"});
        ASSERT_TRUE(search.waitForFinished(limitMs));
        window = QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).value(0);
        ASSERT_FALSE(window.isEmpty());
    }

    // Moves the mouse over the window, which shows a pointer hidden only until the mouse moves.
    void moveMouse()
    {
        static int x = 100;
        x = x == 100 ? 120 : 100;
        xdotool({"mousemove", "--window", window, QString::number(x), "100"});
    }

    QProcess windowManager;
    QString window;
};

// On Wayland: Qt's wayland platform on a compositor of the test's own, which gives no window the
// keyboard (the program reads neither active nor focused there).
class WaylandSessionTest : public DesktopSession {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariable("ZUZIRE_DESKTOP_SESSION") != "wayland" ||
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            GTEST_SKIP() << "runs on a headless Wayland compositor, as CTest's DesktopSessionOnWayland "
                            "(needs weston)";
        const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
        if (QDir(plugins + "/platforms").entryList({"libqwayland*"}).isEmpty())
            GTEST_SKIP() << "Qt's Wayland platform is missing: run scripts/setup.sh";
    }

    void start(const QString& configHome)
    {
        launch("wayland", {}, configHome, QProcessEnvironment::systemEnvironment());
    }
};
} // namespace

TEST_F(DesktopSessionTest, KeysFireOnceAndThePointerFollowsFullScreen)
{
    start();
    xdotool({"windowactivate", "--sync", window});
    ASSERT_TRUE(
        treeBecomes([](const QJsonObject& t) { return t["active"].toBool() && t["focus"].toBool(); }));

    xdotool({"key", "--clearmodifiers", "F11"});
    ASSERT_TRUE(treeBecomes([](const QJsonObject& t) { return t["fullScreen"].toBool(); }));
    moveMouse();
    EXPECT_TRUE(treeBecomes([](const QJsonObject& t) { return !t["pointerVisible"].toBool(); }));

    // The window manager ends full screen behind the program's back: the pointer comes back.
    xdotool({"key", "--clearmodifiers", "super+F11"});
    ASSERT_TRUE(treeBecomes([](const QJsonObject& t) { return !t["fullScreen"].toBool(); }));
    moveMouse();
    EXPECT_TRUE(treeBecomes([](const QJsonObject& t) { return t["pointerVisible"].toBool(); }));

    // F11 twice: in and out again, the pointer shown at the end.
    xdotool({"key", "--clearmodifiers", "F11"});
    ASSERT_TRUE(treeBecomes([](const QJsonObject& t) { return t["fullScreen"].toBool(); }));
    xdotool({"key", "--clearmodifiers", "F11"});
    ASSERT_TRUE(treeBecomes([](const QJsonObject& t) { return !t["fullScreen"].toBool(); }));
    moveMouse();
    EXPECT_TRUE(treeBecomes([](const QJsonObject& t) { return t["pointerVisible"].toBool(); }));

    xdotool({"key", "--clearmodifiers", "ctrl+q"});
    EXPECT_TRUE(program.waitForFinished(limitMs)) << "Ctrl+Q did not quit";
    EXPECT_EQ(program.exitCode(), 0);
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    EXPECT_FALSE(errors.contains("Ambiguous")) << errors.toStdString();
}

TEST_F(DesktopSessionTest, LaunchFullScreenHasTheKeyboardAndEscapeQuits)
{
    start({"-LaunchFullScreen", "YES"});
    ASSERT_TRUE(treeBecomes([](const QJsonObject& t) {
        return t["fullScreen"].toBool() && t["active"].toBool() && t["focus"].toBool();
    }));
    moveMouse();
    EXPECT_FALSE(tree()["pointerVisible"].toBool());
    // Escape is Menu, and Menu on the first screen quits.
    xdotool({"key", "--window", window, "Escape"});
    EXPECT_TRUE(program.waitForFinished(limitMs)) << "Escape did not quit";
    EXPECT_EQ(program.exitCode(), 0);
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    EXPECT_FALSE(errors.contains("Not first responder!")) << errors.toStdString();
}

TEST_F(DesktopSessionTest, NoFrameOfAPushIsDarkerThanBothScreens)
{
    const QString config = folder.filePath("config");
    ASSERT_NO_FATAL_FAILURE(makeAlbumLibrary(config));

    start({}, config);
    // A small window keeps every screenshot quick, so the frames sample the whole fade.
    ASSERT_EQ(ask("resize 320 240"), "ok");
    // The fade in lasts a quarter of a second; the picker's preview strip then goes on sliding
    // photos in, which darkens and lightens the screen on its own. The screen the push ends on is
    // therefore the picker as it shows itself over the next seconds, at its darkest: a flash
    // darker than that and than the first screen is the push's, whatever the load.
    constexpr qint64 fadeEndsMs = 600;
    constexpr qint64 watchMs = 3000;
    std::vector<double> levels;
    std::vector<double> pickerLevels;
    qint64 pushedAt = -1;
    QElapsedTimer clock;
    clock.start();
    while ((pushedAt < 0 || clock.elapsed() - pushedAt < watchMs) && clock.elapsed() < 2 * limitMs) {
        const QString shot = folder.filePath(QString("frame%1.png").arg(levels.size()));
        ASSERT_EQ(ask("screenshot " + shot), "ok " + shot);
        const qint64 takenAt = clock.elapsed();
        levels.push_back(brightness(QImage(shot)));
        if (pushedAt >= 0 && takenAt - pushedAt > fadeEndsMs)
            pickerLevels.push_back(levels.back());
        else if (pushedAt < 0 && tree()["controllers"].toArray().size() > 1)
            pushedAt = clock.elapsed();
    }
    ASSERT_GE(pushedAt, 0) << "the album picker never came";
    ASSERT_FALSE(pickerLevels.empty());
    const double darker =
        std::min(levels.front(), *std::min_element(pickerLevels.begin(), pickerLevels.end()));
    QStringList trace;
    for (double level : levels)
        trace << QString::number(level, 'f', 1);
    for (size_t i = 0; i < levels.size(); ++i)
        EXPECT_GE(levels[i], darker - 1) << "frame " << i << ": " << trace.join(' ').toStdString();
    EXPECT_EQ(finish(), 0);
}

TEST_F(DesktopSessionTest, NoBusIsLaunchedAndNothingOutlivesTheProgram)
{
    // A desktop without a session bus; the mark is inherited by whatever the program starts.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.insert("XDG_RUNTIME_DIR", folder.path());
    environment.insert("ZUZIRE_TEST_RUN", folder.path());
    start({}, {}, environment);
    ASSERT_FALSE(tree().isEmpty());
    EXPECT_EQ(finish(), 0);
    QProcess leftovers;
    leftovers.start("bash", {ZUZIRE_LEFTOVER_PROCESSES_SCRIPT, "--kill", folder.path()});
    ASSERT_TRUE(leftovers.waitForFinished(limitMs));
    EXPECT_EQ(leftovers.exitCode(), 0) << leftovers.readAllStandardOutput().toStdString();
}

TEST_F(WaylandSessionTest, GoesFullScreenShowsTheAlbumPickerAndQuits)
{
    const QString config = folder.filePath("config");
    ASSERT_NO_FATAL_FAILURE(makeAlbumLibrary(config));
    ASSERT_NO_FATAL_FAILURE(start(config));
    ASSERT_EQ(ask("fullscreen"), "ok");
    ASSERT_TRUE(treeBecomes([](const QJsonObject& t) { return t["fullScreen"].toBool(); }));
    // The picker comes once the library has loaded, which a busy machine slows down.
    ASSERT_TRUE(treeBecomes(
        [](const QJsonObject& t) { return t["controllers"].toArray().contains("AlbumController"); }))
        << QJsonDocument(tree()).toJson().toStdString();

    // The whole screen the compositor has, and on it the picker's photos, which slide in: one of
    // its next frames shows them.
    const QStringList side = qEnvironmentVariable("ZUZIRE_SCREEN_SIZE").split('x');
    const QSize screen(side.value(0).toInt(), side.value(1).toInt());
    const QString shot = folder.filePath("picker.png");
    QImage image;
    EXPECT_TRUE(waitFor([&] {
        image = ask("screenshot " + shot) == "ok " + shot ? QImage(shot) : QImage();
        return image.size() == screen && colouredShare(image) > 0.05;
    })) << "last screenshot " << image.width() << "x" << image.height() << " on a screen of "
        << screen.width() << "x" << screen.height() << ", in colour " << colouredShare(image);

    EXPECT_EQ(ask("quit"), "ok");
    EXPECT_EQ(finish(), 0) << program.readAllStandardError().toStdString();
}
