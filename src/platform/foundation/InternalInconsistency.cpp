#include "platform/foundation/InternalInconsistency.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>

namespace {
std::string baseName(const char* path)
{
    std::string text(path ? path : "");
    const auto slash = text.find_last_of('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}
} // namespace

InternalInconsistency::InternalInconsistency(std::string description, std::string operation,
                                             std::string object, std::string file, int line)
    : std::logic_error(description)
    , m_description(std::move(description))
    , m_operation(std::move(operation))
    , m_object(std::move(object))
    , m_file(std::move(file))
    , m_line(line)
{}

void raiseInternalInconsistency(std::string description, const char* operation, std::string object,
                                const char* file, int line)
{
    throw InternalInconsistency(std::move(description), operation ? operation : "", std::move(object),
                                baseName(file), line);
}

std::string qmClassName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}
