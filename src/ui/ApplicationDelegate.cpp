#include "ui/ApplicationDelegate.h"

namespace {
ApplicationDelegate* sharedDelegate = nullptr; // non-owning: the delegate clears it when it goes
}

ApplicationDelegate* ApplicationDelegate::shared()
{
    return sharedDelegate;
}

void ApplicationDelegate::setShared(ApplicationDelegate* delegate)
{
    sharedDelegate = delegate;
}
