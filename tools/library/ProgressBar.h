#pragma once

#include <cstdio>

// A one-line progress bar redrawn in place on a terminal; silent when the stream is no terminal
// (a pipe, a log file), so scripts and tests see only the tool's real output.
class ProgressBar {
public:
    // `stream` is not owned.
    explicit ProgressBar(std::FILE* stream);
    ~ProgressBar();

    // `done` of `total` steps; redraws only when the bar's text changes.
    void update(long done, long total);
    // Ends the bar's line, so a message can follow on a line of its own; the next update draws
    // the bar again below it.
    void endLine();

private:
    std::FILE* m_stream;
    bool m_enabled;
    bool m_lineOpen = false;
    int m_lastWidth = -1;
    long m_lastDone = -1;
};
