#include "tools/library/BinaryAlbumDataRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyListLimits.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/AlbumDataFault.h"
#include "tools/library/AlbumDataRatingEditor.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <plist/plist.h>

namespace {
const char* const listKey = "Master Image List";
const char* const ratingKey = "Rating";
const char* const elsewhereKey = AlbumDataRatingEditor::ratingElsewhereKey;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

// Calls `visit` with the value of every item of `dictionary` under `key`: a list that repeats a
// key is changed wherever a reader might look.
template <typename Visit> void forEachItem(plist_t dictionary, const char* key, const Visit& visit)
{
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(dictionary, &iterator);
    // Out of memory: nothing is changed, which the check of the new contents then refuses.
    if (!iterator)
        return;
    const std::unique_ptr<void, decltype(&std::free)> iteratorGuard(iterator, &std::free);
    for (;;) {
        char* itemKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dictionary, iterator, &itemKey, &value);
        const std::unique_ptr<char, decltype(&std::free)> keyGuard(itemKey, &std::free);
        if (!value)
            return;
        if (itemKey && std::strcmp(itemKey, key) == 0)
            visit(value);
    }
}

void setNumber(plist_t dictionary, const char* key, int value)
{
    bool found = false;
    bool container = false;
    forEachItem(dictionary, key, [&](plist_t item) {
        found = true;
        const plist_type type = plist_get_node_type(item);
        if (type == PLIST_DICT || type == PLIST_ARRAY)
            container = true;
        else
            plist_set_uint_val(item, uint64_t(value));
    });
    // A container is replaced rather than given another type: its items would stay attached to it.
    if (!found || container)
        plist_dict_set_item(dictionary, key, plist_new_uint(uint64_t(value)));
}

// The contents with the photo's entries rated, encoded again; empty where libplist fails.
QByteArray rewritten(const QByteArray& bytes, const std::string& key, int stars, std::optional<int> elsewhere)
{
    plist_t root = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    const PlistHandle guard(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return {};
    forEachItem(root, listKey, [&](plist_t list) {
        if (plist_get_node_type(list) != PLIST_DICT)
            return;
        forEachItem(list, key.c_str(), [&](plist_t entry) {
            if (plist_get_node_type(entry) != PLIST_DICT)
                return;
            setNumber(entry, ratingKey, stars);
            if (elsewhere)
                setNumber(entry, elsewhereKey, *elsewhere);
        });
    });
    char* encoded = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &encoded, &length);
    QByteArray result = encoded ? QByteArray(encoded, qsizetype(length)) : QByteArray();
    plist_to_bin_free(encoded);
    return result;
}

// What the program must read from the new contents: the old tree, the photo's entry rated.
PlistPtr expected(const PlistValue& root, const PlistValue& list, const PlistValue& entry,
                  const std::string& key, int stars, std::optional<int> elsewhere)
{
    PlistDictionary rated = *entry.asDictionary();
    rated.insert_or_assign(ratingKey, PlistValue::integer(stars));
    if (elsewhere)
        rated.insert_or_assign(elsewhereKey, PlistValue::integer(*elsewhere));
    PlistDictionary photos = *list.asDictionary();
    photos.insert_or_assign(key, PlistValue::dictionary(std::move(rated)));
    PlistDictionary top = *root.asDictionary();
    top.insert_or_assign(listKey, PlistValue::dictionary(std::move(photos)));
    return PlistValue::dictionary(std::move(top));
}

QString reasonOf(const Error& readError)
{
    QString reason = QString::fromStdString(readError.localizedDescription());
    if (!readError.failureReason().empty())
        reason += QStringLiteral(" ") + QString::fromStdString(readError.failureReason());
    return reason;
}

QString photoPathOf(const PlistValue& entry)
{
    const PlistPtr path = entry.objectForKey("ImagePath");
    return path && path->isString() ? QString::fromStdString(*path->asString()) : QString();
}
} // namespace

bool BinaryAlbumDataRating::isBinary(QByteArrayView bytes)
{
    return bytes.startsWith("bplist");
}

bool BinaryAlbumDataRating::apply(const QString& path, const QByteArray& bytes, const std::string& key,
                                  int stars, Error* error, const PhotoRating::BeforeWriting& beforeWriting)
{
    Error readError;
    const PlistPtr tree = PropertyListSerialization::fromData(bytes, &readError);
    if (!tree) {
        qmSetError(error, AlbumDataFault::unsound(path, reasonOf(readError)));
        return false;
    }
    if (!tree->isDictionary()) {
        qmSetError(error, AlbumDataFault::notADictionary(path));
        return false;
    }
    const PlistPtr list = tree->objectForKey(listKey);
    const PlistPtr entry = list ? list->objectForKey(key) : nullptr;
    if (!entry) {
        qmSetError(error, AlbumDataFault::noSuchPhoto(path, key));
        return false;
    }
    const auto refuse = [&](const QString& why) {
        qmSetError(error, AlbumDataFault::failure(path, Error::fileReadCorruptFileError,
                                                  QStringLiteral("cannot rate photo %1 in %2: %3")
                                                      .arg(QString::fromStdString(key), path, why)));
        return false;
    };
    if (!entry->isDictionary())
        return refuse(QStringLiteral("its entry is no dictionary"));
    if (PropertyListLimits::holdsTextWithNul(bytes.constData(), bytes.size()))
        return refuse(
            QStringLiteral("a text in it holds a NUL character, and written again it would end there"));
    // What reached the photo's sidecar is recorded as seen elsewhere, as for an XML file.
    std::optional<int> elsewhere;
    if (beforeWriting && beforeWriting(photoPathOf(*entry)))
        elsewhere = stars;
    const QByteArray changed = rewritten(bytes, key, stars, elsewhere);
    const PlistPtr reread = changed.isEmpty() ? nullptr : PropertyListSerialization::fromData(changed);
    if (!reread || !PlistValue::equal(reread, expected(*tree, *list, *entry, key, stars, elsewhere)))
        return refuse(QStringLiteral("written again as a binary property list, it would not read as before"));
    return AtomicFile::write(path, changed, error);
}
