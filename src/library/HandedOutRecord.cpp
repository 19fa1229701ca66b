#include "library/HandedOutRecord.h"

PlistPtr HandedOutRecord::forAlbum(size_t album)
{
    if (!record || m_album != album) {
        m_album = album;
        return record;
    }
    return PlistValue::dictionary(*record->asDictionary());
}

PlistPtr HandedOutRecord::albumRecord(std::string name, PlistArray items)
{
    PlistDictionary result;
    result.emplace("name", PlistValue::string(std::move(name)));
    result.emplace("items", PlistValue::array(std::move(items)));
    return PlistValue::dictionary(std::move(result));
}
