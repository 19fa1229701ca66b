#include "library/RatingHelper.h"

#include "library/HelperStop.h"
#include "platform/foundation/Resources.h"

#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <csignal>
#include <limits>
#include <unistd.h>

namespace {
// How long a killed script may take to be reaped before we stop waiting for it.
constexpr int reapMilliseconds = 5000;

// The name the script finds the library tool under.
constexpr const char* libraryToolVariable = "ZUZIRE_LIBRARY_TOOL";

QProcessEnvironment scriptEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString tool = RatingHelper::libraryToolPath();
    if (!tool.isEmpty())
        environment.insert(QString::fromLatin1(libraryToolVariable), tool);
    return environment;
}

int milliseconds(std::chrono::milliseconds duration)
{
    return int(std::clamp<long long>(duration.count(), 0, std::numeric_limits<int>::max()));
}

QString seconds(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000.0);
}

void logFailure(unsigned long long itemID, unsigned rating, const QString& what)
{
    qWarning("Could not rate photo %llu with %u stars: %s", itemID, rating, qUtf8Printable(what));
}

// In the script's process, between fork and exec: async-signal-safe calls only.
void prepareScriptProcess()
{
    ::setpgid(0, 0);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

// False when the script was still running after `limit` and has been killed, with its group.
bool waitOrKill(QProcess& process, std::chrono::milliseconds limit)
{
    if (process.waitForFinished(milliseconds(limit)) || process.state() == QProcess::NotRunning)
        return true;
    ::kill(-pid_t(process.processId()), SIGKILL);
    process.waitForFinished(reapMilliseconds);
    return false;
}

RatingHelper::Outcome outcomeOfEnded(const QProcess& process, const QString& script,
                                     unsigned long long itemID, unsigned rating, bool stopped)
{
    const bool succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (stopped && !succeeded) {
        logFailure(itemID, rating, QStringLiteral("%1 was stopped, as the program quit at once").arg(script));
        return RatingHelper::Outcome::Stopped;
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        logFailure(itemID, rating,
                   QStringLiteral("%1 was killed by signal %2").arg(script).arg(process.exitCode()));
        return RatingHelper::Outcome::Failed;
    }
    if (process.exitCode() != 0) {
        logFailure(itemID, rating,
                   QStringLiteral("%1 exited with status %2").arg(script).arg(process.exitCode()));
        return RatingHelper::Outcome::Failed;
    }
    return RatingHelper::Outcome::Written;
}
} // namespace

QString RatingHelper::scriptPath()
{
    const QString path = Resources::path(QString::fromLatin1(scriptName));
    return QFileInfo(path).isFile() ? path : QString();
}

unsigned long long RatingHelper::itemIdentifier(const std::string& itemKey)
{
    const QString text = QString::fromStdString(itemKey).trimmed();
    const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    bool ok = false;
    const unsigned long long identifier = text.toULongLong(&ok, 10);
    return digits && ok ? identifier : 0;
}

QString RatingHelper::libraryToolPath()
{
    const QString path = Resources::executableDirectory() + QStringLiteral("/zuzire-library");
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

RatingHelper::Outcome RatingHelper::run(const QString& script, unsigned long long itemID, unsigned rating,
                                        std::chrono::milliseconds timeLimit, HelperStop* stop)
{
    QProcess process;
    process.setProcessEnvironment(scriptEnvironment());
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setChildProcessModifier(&prepareScriptProcess);
    process.start(script, {QString::number(itemID), QString::number(rating)});
    const auto started = std::chrono::steady_clock::now();
    if (!process.waitForStarted(milliseconds(timeLimit))) {
        logFailure(itemID, rating,
                   QStringLiteral("%1 could not start (%2)").arg(script, process.errorString()));
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(reapMilliseconds);
        }
        return Outcome::Failed;
    }
    // Nothing is ever written to the script; it reads end of file, never the program's input.
    process.closeWriteChannel();
    const bool attached = !stop || stop->attach(pid_t(process.processId()));
    const auto left = timeLimit - std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started);
    const bool finished = waitOrKill(process, left);
    if (stop && attached)
        stop->detach();
    if (!finished) {
        logFailure(
            itemID, rating,
            QStringLiteral("%1 did not finish within %2 s and was killed").arg(script, seconds(timeLimit)));
        return Outcome::TimedOut;
    }
    return outcomeOfEnded(process, script, itemID, rating, stop && stop->isStopped());
}
