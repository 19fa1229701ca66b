#include "tools/library/RatingElsewhere.h"

#include "library/UnratedPhotoFilter.h"
#include "platform/foundation/Preferences.h"
#include "tools/library/AlbumDataRatingEditor.h"
#include "tools/library/PhotoPathGuess.h"

#include <QFileInfo>

namespace {
const char* const seenKey = AlbumDataRatingEditor::ratingElsewhereKey;
const char* const namingSetting = "SidecarNaming";
const char* const intoPhotoSetting = "RatingInPhoto";

std::optional<bool> booleanOf(const PlistPtr& value)
{
    if (value->isBoolean())
        return *value->asBoolean();
    if (value->isInteger() && (*value->asInteger() == 0 || *value->asInteger() == 1))
        return *value->asInteger() == 1;
    if (value->isString()) {
        const QString text = QString::fromStdString(*value->asString()).toLower();
        if (text == QLatin1String("yes") || text == QLatin1String("true") || text == QLatin1String("1"))
            return true;
        if (text == QLatin1String("no") || text == QLatin1String("false") || text == QLatin1String("0"))
            return false;
    }
    return std::nullopt;
}
} // namespace

std::optional<XmpRating::Naming> RatingElsewhere::namingOf(const QString& text)
{
    if (text == QLatin1String("whole"))
        return XmpRating::Naming::WholeName;
    if (text == QLatin1String("base"))
        return XmpRating::Naming::BaseName;
    return std::nullopt;
}

bool RatingElsewhere::readSettings(Settings& settings, QString* problem)
{
    const QString file = Preferences::domainFilePath(Preferences::applicationDomain);
    if (const PlistPtr naming = Preferences::copyValue(namingSetting, Preferences::applicationDomain)) {
        const auto value =
            naming->isString() ? namingOf(QString::fromStdString(*naming->asString())) : std::nullopt;
        if (!value) {
            if (problem)
                *problem = QStringLiteral("the setting %1 in %2 is %3: it is \"whole\" (IMG_0001.JPG.xmp) or "
                                          "\"base\" (IMG_0001.xmp)")
                               .arg(QLatin1String(namingSetting), file,
                                    QString::fromStdString(naming->description()));
            return false;
        }
        settings.naming = *value;
    }
    if (const PlistPtr intoPhoto = Preferences::copyValue(intoPhotoSetting, Preferences::applicationDomain)) {
        const auto value = booleanOf(intoPhoto);
        if (!value) {
            if (problem)
                *problem = QStringLiteral("the setting %1 in %2 is %3: it is YES or NO")
                               .arg(QLatin1String(intoPhotoSetting), file,
                                    QString::fromStdString(intoPhoto->description()));
            return false;
        }
        settings.intoPhoto = *value;
    }
    return true;
}

std::optional<XmpRating::PreparedSidecar> RatingElsewhere::prepare(const QString& albumDataPath,
                                                                   const std::string& key, int stars,
                                                                   const Settings& settings)
{
    const auto photoPath = PhotoPathGuess::read(albumDataPath, key);
    if (!photoPath || photoPath->isEmpty() || !QFileInfo::exists(*photoPath))
        return std::nullopt;
    return XmpRating::prepareSidecar(*photoPath, settings.naming, stars);
}

bool RatingElsewhere::write(const QString& photoPath, int stars, const Settings& settings, Error* error,
                            bool* written, const std::optional<XmpRating::PreparedSidecar>& prepared)
{
    if (written)
        *written = false;
    if (photoPath.isEmpty() || !QFileInfo::exists(photoPath))
        return true;
    const bool fits = prepared && prepared->photoPath == photoPath && prepared->naming == settings.naming &&
                      prepared->rating == stars;
    if (!(fits ? XmpRating::writePrepared(*prepared, error)
               : XmpRating::writeSidecar(photoPath, settings.naming, stars, error)))
        return false;
    if (written)
        *written = true;
    return !settings.intoPhoto || XmpRating::writeIntoPhoto(photoPath, stars, error);
}

void RatingElsewhere::adopt(PlistDictionary& entry, const QString& photoPath, XmpRating::Naming naming,
                            const std::function<void(const QString&)>& warn)
{
    QString problem;
    const int outside = XmpRating::read(photoPath, naming, &problem);
    if (!problem.isEmpty() && warn)
        warn(problem);
    const auto rating = entry.find("Rating");
    const auto seen = entry.find(seenKey);
    const int64_t ours = rating == entry.end() ? 0 : UnratedPhotoFilter::ratingValue(rating->second.get());
    const int64_t seenBefore = seen == entry.end() ? 0 : UnratedPhotoFilter::ratingValue(seen->second.get());
    const bool seenFits = seenBefore >= XmpRating::rejected && seenBefore <= 5;
    const int64_t kept = XmpRating::reconciled(ours, seenFits ? int(seenBefore) : XmpRating::none, outside);
    if (kept != ours)
        entry.insert_or_assign("Rating", PlistValue::integer(kept));
    // Written also when none (0, as an absent key reads): a rating then sets it to what it wrote
    // in place, as it sets the rating beside it, instead of growing the file, which would cost
    // every first rating of a photo a copy of the whole library.
    entry.insert_or_assign(seenKey, PlistValue::integer(outside));
}
