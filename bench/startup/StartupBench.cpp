#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyList.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// Start-up of the real program against the least a Qt Widgets program does to paint the same
// first screen: from the moment each is spawned to its first painted frame (both report it the
// same way, through ZUZIRE_FIRST_FRAME_FD), the two alternating in fresh processes, after a
// discarded warm-up of each. Then the time from launch to the album picker, for each minimum
// loading wait given (the program's MinimumLoadSeconds default).
namespace {

double nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The environment of this process plus `extra` entries ("NAME=value"), for posix_spawn.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra)
{
    std::vector<std::string> entries(extra);
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        const bool replaced = std::any_of(extra.begin(), extra.end(),
                                          [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
        if (!replaced)
            entries.push_back(text);
    }
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

struct Launch {
    double firstFrameMs = 0; // from the spawn to the first-frame report
    double cpuMs = 0;        // processor time of the whole run, which ends at the report
};

// Spawns `arguments` and times it to its first-frame report; nothing when it gives none within 30
// seconds. The process is killed and waited for before returning.
std::optional<Launch> launch(std::vector<std::string> arguments, const std::vector<std::string>& extraEnv)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return std::nullopt;
    constexpr int childDescriptor = 3;
    std::vector<std::string> environment = environmentWith(extraEnv);
    environment.push_back("ZUZIRE_FIRST_FRAME_FD=" + std::to_string(childDescriptor));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 leaves the copy open across exec; everything else of ours is close-on-exec.
    posix_spawn_file_actions_adddup2(&actions, report[1], childDescriptor);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);
    pid_t pid = 0;
    const double start = nowMs();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);
    std::optional<Launch> result;
    if (spawned == 0) {
        pollfd readable{report[0], POLLIN, 0};
        char line[128] = {};
        if (poll(&readable, 1, 30000) == 1 && read(report[0], line, sizeof line - 1) > 0) {
            long long nanoseconds = 0;
            if (std::sscanf(line, "first-frame %lld", &nanoseconds) == 1)
                result = Launch{double(nanoseconds) / 1e6 - start, 0};
        }
        // Killed outright: its shutdown is no part of its start-up and must not count as processor time.
        kill(pid, SIGKILL);
        rusage usage{};
        wait4(pid, nullptr, 0, &usage);
        if (result) {
            const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
            result->cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
        }
    }
    close(report[0]);
    return result;
}

// Milliseconds from launching the program in automation mode to its album picker, polling its
// controller stack; nothing when no picker came within a minute.
std::optional<double> pickerMs(const QString& zuzire, const QProcessEnvironment& environment,
                               double waitSeconds)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(zuzire, {"--automation", "-MinimumLoadSeconds", QString::number(waitSeconds)});
    std::optional<double> result;
    while (!result && timer.elapsed() < 60000 && process.waitForStarted(10000)) {
        process.write("tree\n");
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {
        }
        const QJsonObject tree = QJsonDocument::fromJson(process.readLine()).object();
        if (tree["controllers"].toArray().contains(QJsonValue("AlbumController")))
            result = double(timer.nsecsElapsed()) / 1e6;
        else
            QThread::msleep(2);
    }
    process.write("quit\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished();
    return result;
}

void printSpread(const char* name, const std::vector<double>& values, const char* unit)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    std::printf("  %s: median %.1f %s (%.1f-%.1f)\n", name, median(values), unit, *low, *high);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s ZUZIRE MINIMAL_PROGRAM ALBUMDATA [ROUNDS] [WAIT_SECONDS...]\n"
                     "  WAIT_SECONDS: minimum loading waits to time the picker with (default 1 0)\n",
                     argv[0]);
        return 2;
    }
    const std::string zuzire = argv[1];
    const std::string minimal = argv[2];
    const QString albumData = QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath();
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 11;
    std::vector<double> waits;
    for (int i = 5; i < argc; ++i)
        waits.push_back(std::atof(argv[i]));
    if (waits.empty())
        waits = {1, 0};

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    Preferences::setValue(
        "iPhotoRecentDatabases",
        PlistValue::array({PlistValue::string(QUrl::fromLocalFile(albumData).toString().toStdString())}),
        Preferences::libraryDomain);
    const QByteArray platform =
        qEnvironmentVariableIsSet("QT_QPA_PLATFORM") ? qgetenv("QT_QPA_PLATFORM") : QByteArray("offscreen");
    const std::vector<std::string> extra = {"QT_QPA_PLATFORM=" + platform.toStdString(),
                                            "XDG_CONFIG_HOME=" + config.path().toStdString()};

    std::vector<double> ours, reference, ratios, ourCpu, referenceCpu;
    for (int round = -1; round < rounds; ++round) {
        // Alternating which goes first, so neither always finds the other's pages in the cache.
        std::optional<Launch> a, b;
        if (round % 2 == 0) {
            b = launch({minimal}, extra);
            a = launch({zuzire}, extra);
        } else {
            a = launch({zuzire}, extra);
            b = launch({minimal}, extra);
        }
        if (!a || !b) {
            std::fprintf(stderr, "no first frame reported by %s\n", !a ? zuzire.c_str() : minimal.c_str());
            return 1;
        }
        if (round < 0)
            continue; // the warm-up: fonts, libraries and the binaries come into the cache
        ours.push_back(a->firstFrameMs);
        reference.push_back(b->firstFrameMs);
        ratios.push_back(a->firstFrameMs / b->firstFrameMs);
        ourCpu.push_back(a->cpuMs);
        referenceCpu.push_back(b->cpuMs);
    }
    std::printf("start-up on the %s platform, %d rounds alternating, each side in a fresh process\n",
                platform.constData(), rounds);
    printSpread("launch to first frame, the program", ours, "ms");
    printSpread("launch to first frame, a minimal Qt Widgets program", reference, "ms");
    // Less moved by other work on the machine than the elapsed time, so a loaded run still shows
    // where the program stands; the goal is on the elapsed time.
    printSpread("processor time to first frame, the program", ourCpu, "ms");
    printSpread("processor time to first frame, the minimal program", referenceCpu, "ms");
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("RESULT startup first-frame ratio=%.3f low=%.3f high=%.3f goal=1.3\n", median(ratios), *low,
                *high);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", QString::fromLatin1(platform));
    environment.insert("XDG_CONFIG_HOME", config.path());
    const int pickerRounds = std::max(1, rounds / 3);
    for (const double wait : waits) {
        std::vector<double> times;
        for (int round = 0; round < pickerRounds; ++round) {
            if (const auto ms = pickerMs(QString::fromStdString(zuzire), environment, wait))
                times.push_back(*ms);
        }
        if (times.empty()) {
            std::fprintf(stderr, "no album picker within a minute (minimum wait %g s)\n", wait);
            return 1;
        }
        const auto [fastest, slowest] = std::minmax_element(times.begin(), times.end());
        std::printf("RESULT picker-ms wait=%gs ratio=%.1f low=%.1f high=%.1f goal=report\n", wait,
                    median(times), *fastest, *slowest);
    }
    return 0;
}
