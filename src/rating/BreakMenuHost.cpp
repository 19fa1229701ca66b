#include "rating/BreakMenuHost.h"

BreakMenuHost::~BreakMenuHost() = default;

void BreakMenuHost::showBreakMenu()
{}

void BreakMenuHost::checkBreakMenu()
{}
