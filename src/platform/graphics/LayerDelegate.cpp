#include "LayerDelegate.h"

LayerDelegate::~LayerDelegate() = default;
