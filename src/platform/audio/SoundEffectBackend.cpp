#include "platform/audio/SoundEffectBackend.h"

#include "platform/audio/SoundEffectPool.h"

#include <QApplication>
#include <QAudioDevice>
#include <QEventLoop>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>

SoundEffectBackend::SoundEffectBackend()
    : SoundEffectBackend(Detection::Detect)
{}

SoundEffectBackend::SoundEffectBackend(Detection detection)
{
    if (detection == Detection::Detect) {
        m_devices = std::make_unique<QMediaDevices>();
        m_hasDevice = !QMediaDevices::audioOutputs().isEmpty();
        QObject::connect(m_devices.get(), &QMediaDevices::audioOutputsChanged, &m_context,
                         [this] { outputsChanged(); });
    }
    if (!m_hasDevice)
        warnNoDevice();
    if (auto* application = QCoreApplication::instance()) {
        QObject::connect(application, &QCoreApplication::aboutToQuit, &m_context,
                         [this] { finishPlayingSounds(quitWaitLimitMs); });
    }
}

SoundEffectBackend::~SoundEffectBackend() = default;

std::unique_ptr<SoundEffectBackend> SoundEffectBackend::withoutDeviceForTesting()
{
    return std::unique_ptr<SoundEffectBackend>(new SoundEffectBackend(Detection::None));
}

void SoundEffectBackend::load(SystemSoundID id, const QUrl& file)
{
    m_files[id] = file;
    if (m_hasDevice)
        makePool(id, file);
}

void SoundEffectBackend::unload(SystemSoundID id)
{
    m_files.erase(id);
    m_completes.erase(id);
    m_pools.erase(id);
}

void SoundEffectBackend::play(SystemSoundID id)
{
    const auto pool = m_pools.find(id);
    if (pool != m_pools.end())
        pool->second->play();
}

void SoundEffectBackend::beep()
{
    QApplication::beep();
}

void SoundEffectBackend::setCompletePlaybackIfAppDies(SystemSoundID id, bool complete)
{
    m_completes[id] = complete;
    const auto pool = m_pools.find(id);
    if (pool != m_pools.end())
        pool->second->setCompletePlaybackIfAppDies(complete);
}

void SoundEffectBackend::finishPlayingSounds(int limitMs)
{
    if (!completingSoundIsPlaying())
        return;
    QEventLoop loop;
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    for (const auto& [id, pool] : m_pools) {
        for (const auto& effect : pool->effects()) {
            QObject::connect(effect.get(), &QSoundEffect::playingChanged, &loop, [this, &loop] {
                if (!completingSoundIsPlaying())
                    loop.quit();
            });
        }
    }
    loop.exec();
}

const SoundEffectPool* SoundEffectBackend::poolForTesting(SystemSoundID id) const
{
    const auto pool = m_pools.find(id);
    return pool == m_pools.end() ? nullptr : pool->second.get();
}

void SoundEffectBackend::outputsChanged()
{
    const bool hasDevice = !QMediaDevices::audioOutputs().isEmpty();
    if (!hasDevice) {
        // Players without an output only retry and warn; the sounds come back with a device.
        m_pools.clear();
        m_hasDevice = false;
        return;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (m_hasDevice) {
        for (const auto& [id, pool] : m_pools)
            pool->setAudioDevice(device);
        return;
    }
    m_hasDevice = true;
    for (const auto& [id, file] : m_files)
        makePool(id, file);
}

void SoundEffectBackend::makePool(SystemSoundID id, const QUrl& file)
{
    auto pool = std::make_unique<SoundEffectPool>(file, QMediaDevices::defaultAudioOutput(), poolSize);
    const auto complete = m_completes.find(id);
    pool->setCompletePlaybackIfAppDies(complete != m_completes.end() && complete->second);
    m_pools[id] = std::move(pool);
}

bool SoundEffectBackend::completingSoundIsPlaying() const
{
    for (const auto& [id, pool] : m_pools) {
        if (pool->completesPlaybackIfAppDies() && pool->isPlaying())
            return true;
    }
    return false;
}

void SoundEffectBackend::warnNoDevice()
{
    if (m_warned)
        return;
    m_warned = true;
    qInfo("No sound output: sounds are off until one appears");
}
