#include "platform/foundation/Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

// The real program on a large library, driven through its automation mode on the offscreen
// platform: the time to the album picker, the program's peak resident memory during the reload and
// its resident memory once the picker shows (against the same program on a library with no photos
// to rate), and the longest the main thread stays busy after Select on the picker, seen as the
// longest answer to a command sent during that time.
namespace {

class Program {
public:
    Program(const QString& binary, const QString& albumData)
    {
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        Preferences::setValue(
            "iPhotoRecentDatabases",
            PlistValue::array({PlistValue::string(QUrl::fromLocalFile(albumData).toString().toStdString())}),
            Preferences::libraryDomain);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", m_config.path());
        m_process.setProcessEnvironment(environment);
        m_process.start(binary, {"--automation"});
        m_started.start();
        m_process.waitForStarted(10000);
    }

    ~Program()
    {
        m_process.write("quit\n");
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // How the program's main thread spent a stretch of time, in milliseconds.
    struct Spent {
        double onProcessor = 0;
        double waitingForOne = 0;
    };

    // Sends one command and gives its answer line and the milliseconds until it came; `spent`
    // (optional) gets what the main thread did meanwhile.
    std::optional<QByteArray> command(const QByteArray& line, double* ms = nullptr, Spent* spent = nullptr)
    {
        const Spent before = spent ? mainThread() : Spent();
        QElapsedTimer timer;
        timer.start();
        m_process.write(line + "\n");
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(120000))
                return std::nullopt;
        }
        if (ms)
            *ms = double(timer.nsecsElapsed()) / 1e6;
        if (spent) {
            const Spent after = mainThread();
            *spent = {after.onProcessor - before.onProcessor, after.waitingForOne - before.waitingForOne};
        }
        return m_process.readLine().trimmed();
    }

    // The main thread's time so far on a processor and waiting in the run queue for one, from the
    // scheduler's statistics (zero where the kernel keeps none).
    Spent mainThread() const
    {
        QFile file(QStringLiteral("/proc/%1/task/%1/schedstat").arg(m_process.processId()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> fields = file.readAll().split(' ');
        if (fields.size() < 2)
            return {};
        return {fields[0].toDouble() / 1e6, fields[1].toDouble() / 1e6};
    }

    // The controller stack of a `tree` answer, and whether the loading status is gone.
    QStringList controllers(bool* loaded)
    {
        QStringList names;
        *loaded = false;
        if (const auto answer = command("tree")) {
            const QJsonObject tree = QJsonDocument::fromJson(*answer).object();
            for (const QJsonValue& value : tree["controllers"].toArray())
                names << value.toString();
            const QJsonArray texts = tree["texts"].toArray();
            *loaded =
                names.size() > 1 || (!texts.isEmpty() && !texts.contains(QJsonValue("Zuzire: loading.")));
        }
        return names;
    }

    // A field of /proc/PID/status in kilobytes (VmRSS, VmHWM).
    long statusKb(const char* field) const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(qsizetype(std::strlen(field)) + 1).trimmed().split(' ').first().toLong();
        }
        return -1;
    }

    double sinceStartMs() const { return double(m_started.nsecsElapsed()) / 1e6; }

private:
    QTemporaryDir m_config;
    QProcess m_process;
    QElapsedTimer m_started;
};

// The load average over the last 1, 5 and 15 minutes: every figure here moves with it.
QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() < 3 ? QByteArray("unknown") : fields[0] + ' ' + fields[1] + ' ' + fields[2];
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Waits for the loading status to give way; gives it, or nothing after a minute.
QStringList settle(Program& program)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60000) {
        bool loaded = false;
        const QStringList names = program.controllers(&loaded);
        if (loaded)
            return names;
        QThread::msleep(5);
    }
    return {};
}

// A library with no photos: the program ends on "nothing to rate", holding no records.
QString writeEmptyLibrary(const QTemporaryDir& folder)
{
    const QString path = folder.filePath("AlbumData.xml");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "<key>List of Albums</key><array/>\n<key>Master Image List</key><dict/>\n</dict>\n</plist>\n");
    return path;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROGRAM ALBUMDATA [ROUNDS]\n", argv[0]);
        return 2;
    }
    const QString binary = QString::fromLocal8Bit(argv[1]);
    const QString albumData = QString::fromLocal8Bit(argv[2]);
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const double fileKb = double(QFileInfo(albumData).size()) / 1024;
    // Named in the results after the folder the file lies in (the generated ones after their size).
    const QByteArray folderName = QFileInfo(albumData).dir().dirName().toLocal8Bit();
    const char* photos = folderName.constData();
    QTemporaryDir emptyFolder;
    const QString emptyLibrary = writeEmptyLibrary(emptyFolder);

    const QByteArray loadBefore = loadAverage();
    std::vector<double> toPicker, peak, after, empty, stall, press, idle, stallAt, work;
    std::vector<Program::Spent> stallSpent;
    for (int round = 0; round < rounds; ++round) {
        {
            Program program(binary, emptyLibrary);
            settle(program);
            QThread::msleep(300);
            empty.push_back(double(program.statusKb("VmRSS:")));
        }
        Program program(binary, albumData);
        const QStringList names = settle(program);
        if (!names.contains("AlbumController")) {
            std::fprintf(stderr, "no album picker: %s\n", qPrintable(names.join(' ')));
            return 1;
        }
        toPicker.push_back(program.sinceStartMs());
        QThread::msleep(300);
        peak.push_back(double(program.statusKb("VmHWM:")));
        after.push_back(double(program.statusKb("VmRSS:")));
        std::vector<double> quiet;
        for (int i = 0; i < 20; ++i) {
            double ms = 0;
            program.command("tree", &ms);
            quiet.push_back(ms);
        }
        idle.push_back(median(quiet));
        // Commands back to back, so one is always waiting while the program works: an answer's
        // round trip bounds whatever the main thread did before it, paints after the previous
        // answer included. Blind spots: work that starts and ends while the bench itself is off
        // the processor between an answer and its next command (a loaded machine), and anything
        // after the window, which covers the title card's end (1 s) and the pass's first frames.
        // Besides, the main thread's processor time during each round trip: how much of the
        // longest was the program's work, how much it waited for a processor the machine gave to
        // others (a loaded machine), and the most work any one round trip saw.
        double worst = 0;
        double worstAt = 0;
        Program::Spent worstSpent;
        QElapsedTimer timer;
        timer.start();
        program.command("press Select", &worst, &worstSpent);
        press.push_back(worst);
        double mostWork = worstSpent.onProcessor;
        while (timer.elapsed() < 1500) {
            double ms = 0;
            Program::Spent spent;
            program.command("tree", &ms, &spent);
            mostWork = std::max(mostWork, spent.onProcessor);
            if (ms > worst) {
                worst = ms;
                worstAt = double(timer.nsecsElapsed()) / 1e6 - ms;
                worstSpent = spent;
            }
        }
        stall.push_back(worst);
        stallAt.push_back(worstAt);
        stallSpent.push_back(worstSpent);
        work.push_back(mostWork);
    }
    const auto spread = [](const std::vector<double>& v) {
        const auto [low, high] = std::minmax_element(v.begin(), v.end());
        return std::pair(*low, *high);
    };
    std::printf("%s: %.1f MB, %d rounds; each a fresh program on it and one on a library with no photos\n",
                qPrintable(albumData), fileKb / 1024, rounds);
    std::printf("  time to the picker (minimum wait included): median %.0f ms\n", median(toPicker));
    const auto [peakLow, peakHigh] = spread(peak);
    std::printf("  peak RSS %.1f MB = %.2f x the file (%.2f-%.2f; goal at most 2.5)\n", median(peak) / 1024,
                median(peak) / fileKb, peakLow / fileKb, peakHigh / fileKb);
    std::vector<double> above;
    for (size_t i = 0; i < after.size(); ++i)
        above.push_back((after[i] - empty[i]) / fileKb);
    const auto [aboveLow, aboveHigh] = spread(above);
    std::printf(
        "  RSS with the picker shown %.1f MB, %.1f MB above a library with no photos (%.1f MB) = %.2f x the "
        "file (%.2f-%.2f; goal at most 1)\n",
        median(after) / 1024, (median(after) - median(empty)) / 1024, median(empty) / 1024, median(above),
        aboveLow, aboveHigh);
    const auto [stallLow, stallHigh] = spread(stall);
    std::printf(
        "  longest answer after Select on the picker %.1f ms (%.1f-%.1f; a quiet answer takes %.1f ms; goal "
        "no stall over 16 ms)\n",
        median(stall), stallLow, stallHigh, median(idle));
    std::printf("  each round's longest answer: ms, asked at ms after the press, of which the main thread "
                "worked / waited for a processor:");
    for (size_t i = 0; i < stall.size(); ++i)
        std::printf(" %.1f at %.0f (%.1f / %.1f);", stall[i], stallAt[i], stallSpent[i].onProcessor,
                    stallSpent[i].waitingForOne);
    std::printf("\n");
    const auto [workLow, workHigh] = spread(work);
    std::printf("  the most main-thread work during one round trip %.1f ms (%.1f-%.1f)\n", median(work),
                workLow, workHigh);
    const auto [pressLow, pressHigh] = spread(press);
    std::printf("  the answer to the press itself %.1f ms (%.1f-%.1f)\n", median(press), pressLow, pressHigh);
    std::printf("  load average before %s, after %s\n", loadBefore.constData(), loadAverage().constData());
    std::printf("RESULT program-peak-rss-x-file %s ratio=%.3f low=%.3f high=%.3f goal=2.5\n", photos,
                median(peak) / fileKb, peakLow / fileKb, peakHigh / fileKb);
    std::printf("RESULT program-rss-above-empty-x-file %s ratio=%.3f low=%.3f high=%.3f goal=1\n", photos,
                median(above), aboveLow, aboveHigh);
    std::printf("RESULT select-stall-ms %s ratio=%.3f low=%.3f high=%.3f goal=16\n", photos, median(stall),
                stallLow, stallHigh);
    std::printf("RESULT select-main-thread-work-ms %s ratio=%.3f low=%.3f high=%.3f goal=16\n", photos,
                median(work), workLow, workHigh);
    return 0;
}
