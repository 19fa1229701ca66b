#include "tools/library/ProgressBar.h"

#include <unistd.h>

namespace {
constexpr int barWidth = 40;
}

ProgressBar::ProgressBar(std::FILE* stream)
    : m_stream(stream)
    , m_enabled(stream && ::isatty(::fileno(stream)))
{}

ProgressBar::~ProgressBar()
{
    endLine();
}

void ProgressBar::endLine()
{
    if (!m_lineOpen)
        return;
    std::fputc('\n', m_stream);
    m_lineOpen = false;
    m_lastWidth = -1;
}

void ProgressBar::update(long done, long total)
{
    if (!m_enabled || total <= 0)
        return;
    const int filled = int(barWidth * done / total);
    if (filled == m_lastWidth && done == m_lastDone)
        return;
    m_lastWidth = filled;
    m_lastDone = done;
    std::fprintf(m_stream, "\r[");
    for (int i = 0; i < barWidth; ++i)
        std::fputc(i < filled ? '#' : ' ', m_stream);
    std::fprintf(m_stream, "] %ld/%ld", done, total);
    std::fflush(m_stream);
    m_lineOpen = true;
}
