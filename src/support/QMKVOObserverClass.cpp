#include "QMKVOObserverClass.h"

QMKVOObserverClass::QMKVOObserverClass(std::string name, Handler handler, Upcast upcast)
    : m_name(std::move(name))
    , m_handler(handler)
    , m_upcast(upcast)
{}

void QMKVOObserverClass::callHandler(void* observer, const std::string& keyPath, Observable* object,
                                     const KeyValueChange& change, const void* context) const
{
    m_handler(observer, keyPath, object, change, context);
}

KeyValueObserver* QMKVOObserverClass::keyValueObserver(void* observer) const
{
    return m_upcast(observer);
}
