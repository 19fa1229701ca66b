#include "support/QMSFX.h"

#include "platform/audio/SystemSoundServices.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/Resources.h"

#include <QFileInfo>
#include <QString>

namespace {

// The sound file extensions the sound output plays.
constexpr const char* soundExtensions[] = {"wav"};

std::string describe(const QUrl& url)
{
    return url.isEmpty() ? std::string("(null)") : url.toString().toStdString();
}

std::string describe(const QMSFX::Identifier& identifier)
{
    if (const auto* url = std::get_if<QUrl>(&identifier))
        return describe(*url);
    return std::get<std::string>(identifier);
}

// printf's %i, %@ formatting of the registration failures.
std::string format(const char* pattern, const std::vector<std::string>& arguments)
{
    std::string text;
    std::size_t next = 0;
    for (const char* at = pattern; *at; ++at) {
        if (at[0] == '%' && (at[1] == 'i' || at[1] == '@') && next < arguments.size()) {
            text += arguments[next++];
            ++at;
        } else {
            text += *at;
        }
    }
    return text;
}

} // namespace

QMSFX& QMSFX::sharedSFX()
{
    QM_CASSERT(isMainThread(), "QMSFX", "Main thread only.");
    static QMSFX shared(sharedEffects());
    return shared;
}

const QMSFX::EffectTable& QMSFX::sharedEffects()
{
    static const EffectTable effects = {
        {clickSound, std::string("click")}, {clankSound, std::string("clank")},
        {clunkSound, std::string("clunk")}, {mehSound, std::string("meh")},
        {downSound, std::string("down")},   {upSound, std::string("up")},
    };
    return effects;
}

QUrl QMSFX::soundURLWithIdentifier(const Identifier& identifier)
{
    if (const auto* url = std::get_if<QUrl>(&identifier))
        return *url;
    const QString name = QString::fromStdString(std::get<std::string>(identifier));
    if (name.isEmpty())
        return {};
    for (const char* extension : soundExtensions) {
        const QString path = Resources::path(name + QLatin1Char('.') + QLatin1String(extension));
        if (QFileInfo(path).isFile())
            return QUrl::fromLocalFile(path);
    }
    return {};
}

QMSFX::QMSFX(const EffectTable& effects)
{
    for (const auto& [name, identifier] : effects) {
        const QUrl url = soundURLWithIdentifier(identifier);
        SystemSoundID id = 0;
        int status = SystemSoundServices::createSystemSoundID(url, &id);
        if (status != SystemSoundServices::noError)
            disposeSFX();
        QM_ASSERT(status == SystemSoundServices::noError,
                  format("Error %i creating sound effect '%@' with resource %@ (from %@)",
                         {std::to_string(status), name, describe(url), describe(identifier)}));
        m_fxIdentifiers[name] = id;
        status = SystemSoundServices::setCompletePlaybackIfAppDies(id, true);
        if (status != SystemSoundServices::noError)
            disposeSFX();
        QM_ASSERT(status == SystemSoundServices::noError,
                  format("Error %i setting playback property of sound effect", {std::to_string(status)}));
    }
}

QMSFX::~QMSFX()
{
    disposeSFX();
}

SystemSoundID QMSFX::effectForName(std::optional<std::string_view> name) const
{
    if (!name)
        return SystemSoundServices::userPreferredAlert;
    const auto effect = m_fxIdentifiers.find(*name);
    return effect == m_fxIdentifiers.end() ? 0 : effect->second;
}

void QMSFX::playSound(std::optional<std::string_view> name)
{
    m_lastSound = name ? std::string(*name) : std::string();
    SystemSoundServices::playSystemSound(effectForName(name));
}

void QMSFX::playAlert(std::optional<std::string_view> name)
{
    SystemSoundServices::playAlertSound(effectForName(name));
}

void QMSFX::disposeSFX()
{
    for (const auto& [name, id] : m_fxIdentifiers)
        SystemSoundServices::disposeSystemSoundID(id);
}
