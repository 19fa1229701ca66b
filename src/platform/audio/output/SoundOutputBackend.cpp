#include "platform/audio/output/SoundOutputBackend.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QEventLoop>
#include <QFile>
#include <QMediaDevices>

namespace {

QAudioFormat mixerFormat()
{
    QAudioFormat format;
    format.setSampleRate(SoundMixer::sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

} // namespace

SoundOutputBackend::SoundOutputBackend()
    : SoundOutputBackend(Detection::Detect)
{}

SoundOutputBackend::SoundOutputBackend(Detection detection)
{
    if (detection == Detection::Detect) {
        m_devices = std::make_unique<QMediaDevices>();
        m_hasDevice = !QMediaDevices::audioOutputs().isEmpty();
        QObject::connect(m_devices.get(), &QMediaDevices::audioOutputsChanged, &m_context,
                         [this] { outputsChanged(); });
    }
    if (!m_hasDevice)
        qInfo("No sound output: sounds are off until one appears");
    m_pumpTimer.setInterval(pumpIntervalMs);
    QObject::connect(&m_pumpTimer, &QTimer::timeout, &m_context, [this] { pump(); });
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleStopMs);
    QObject::connect(&m_idleTimer, &QTimer::timeout, &m_context, [this] { stopWhenQuiet(); });
    if (auto* application = QCoreApplication::instance()) {
        QObject::connect(application, &QCoreApplication::aboutToQuit, &m_context,
                         [this] { finishPlayingSounds(quitWaitLimitMs); });
    }
}

SoundOutputBackend::~SoundOutputBackend()
{
    stopOutput();
}

std::unique_ptr<SoundOutputBackend> SoundOutputBackend::withoutDeviceForTesting()
{
    return std::unique_ptr<SoundOutputBackend>(new SoundOutputBackend(Detection::None));
}

void SoundOutputBackend::load(SystemSoundID id, const QUrl& file)
{
    // The file was checked when it was registered; one that changed since plays as silence.
    QFile input(file.toLocalFile());
    std::optional<WaveFile> wave;
    if (input.open(QIODevice::ReadOnly))
        wave = WaveFile::decode(input.readAll());
    m_mixer.load(id, wave ? SoundMixer::convert(*wave) : std::vector<std::int16_t>());
}

void SoundOutputBackend::unload(SystemSoundID id)
{
    m_mixer.unload(id);
    m_completing.erase(id);
}

void SoundOutputBackend::play(SystemSoundID id)
{
    if (!m_hasDevice || !m_mixer.play(id))
        return;
    startOutput();
    pump();
    m_pumpTimer.start();
    m_idleTimer.start();
}

void SoundOutputBackend::beep()
{
    QApplication::beep();
}

void SoundOutputBackend::setCompletePlaybackIfAppDies(SystemSoundID id, bool complete)
{
    if (complete)
        m_completing.insert(id);
    else
        m_completing.erase(id);
}

bool SoundOutputBackend::isOutputRunning() const
{
    return m_stream != nullptr;
}

void SoundOutputBackend::finishPlayingSounds(int limitMs)
{
    if (!isOutputRunning() || !completingSoundIsPlaying())
        return;
    QEventLoop loop;
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [this, &loop, &poll] {
        // The mixer is done once it has handed over the last samples; the output plays what it
        // buffered after that.
        if (!completingSoundIsPlaying()) {
            poll.stop();
            QTimer::singleShot(bufferMs, &loop, &QEventLoop::quit);
        }
    });
    poll.start(bufferMs / 4);
    loop.exec();
}

void SoundOutputBackend::outputsChanged()
{
    m_hasDevice = !QMediaDevices::audioOutputs().isEmpty();
    // A new default output (or none) takes a new stream, made with the next sound.
    stopOutput();
    m_sink.reset();
    m_mixer.silence();
}

void SoundOutputBackend::startOutput()
{
    if (!m_sink) {
        const QAudioFormat format = mixerFormat();
        m_sink = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), format);
        m_sink->setBufferSize(format.bytesForDuration(bufferMs * 1000));
    }
    if (!m_stream || m_sink->state() == QAudio::StoppedState)
        m_stream = m_sink->start();
}

void SoundOutputBackend::pump()
{
    // Once the last sound is handed over the stream drains; the next press refills it whole.
    if (!m_stream || m_mixer.isSilent()) {
        m_pumpTimer.stop();
        return;
    }
    const auto frames = static_cast<std::size_t>(m_sink->bytesFree() / 2);
    if (frames > 0)
        m_stream->write(m_mixer.mix(frames));
}

void SoundOutputBackend::stopOutput()
{
    m_pumpTimer.stop();
    if (m_sink)
        m_sink->stop();
    m_stream = nullptr;
}

void SoundOutputBackend::stopWhenQuiet()
{
    if (!m_mixer.isSilent()) {
        m_idleTimer.start();
        return;
    }
    stopOutput();
}

bool SoundOutputBackend::completingSoundIsPlaying() const
{
    return m_mixer.isPlaying(std::vector<SystemSoundID>(m_completing.begin(), m_completing.end()));
}
