#include "KeyValueObserver.h"

KeyValueObserver::KeyValueObserver()
    : m_lifetime(std::make_shared<const char>())
{}

KeyValueObserver::~KeyValueObserver()
{
    // Expire first, so that whatever the attachments undo can no longer reach this observer.
    m_lifetime.reset();
    std::map<const void*, std::shared_ptr<void>> attachments;
    attachments.swap(m_attachments);
    attachments.clear();
}

void KeyValueObserver::observeValueForKeyPath(const std::string& /*keyPath*/, Observable* /*object*/,
                                              const KeyValueChange& /*change*/, const void* /*context*/)
{}

void KeyValueObserver::observedObjectWillBeDestroyed(Observable* /*object*/)
{}

std::shared_ptr<void> KeyValueObserver::attachment(const void* tag) const
{
    const auto it = m_attachments.find(tag);
    return it == m_attachments.end() ? nullptr : it->second;
}

void KeyValueObserver::setAttachment(const void* tag, std::shared_ptr<void> attachment)
{
    if (!attachment) {
        // Released after the map no longer holds it, in case its destructor looks here.
        const auto it = m_attachments.find(tag);
        if (it == m_attachments.end())
            return;
        const std::shared_ptr<void> released = std::move(it->second);
        m_attachments.erase(it);
        return;
    }
    m_attachments[tag] = std::move(attachment);
}
