#include "library/AlbumInfoOperation.h"

#include <utility>

AlbumInfoOperation::AlbumInfoOperation(std::function<void()> call)
    : m_call(std::move(call))
{}

std::shared_ptr<AlbumInfoOperation> AlbumInfoOperation::create(std::function<void()> call)
{
    return std::make_shared<AlbumInfoOperation>(std::move(call));
}

void AlbumInfoOperation::main()
{
    if (m_call)
        m_call();
}
