#include "QMKVOAdditions.h"

const char QMKVOObservationContext[] = "NSObject+QMKVO observation context";
