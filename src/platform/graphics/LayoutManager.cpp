#include "LayoutManager.h"

LayoutManager::~LayoutManager() = default;
