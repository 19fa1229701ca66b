#pragma once

// The main thread is the one that started the process: the one that runs the event loop, owns
// the window, the layer tree and the controllers.
bool isMainThread();
