#pragma once

#include <stdexcept>
#include <string>

// Raised by QMInvocationOperation::result() when there is no result to give: the operation was
// cancelled, or the recorded call returns nothing. name() tells which.
class QMInvocationOperationException : public std::runtime_error {
public:
    static constexpr const char* cancelledName = "NSInvocationOperationCancelledException";
    static constexpr const char* voidResultName = "NSInvocationOperationVoidResultException";

    QMInvocationOperationException(std::string name, const std::string& reason);

    const std::string& name() const { return m_name; }

private:
    std::string m_name;
};
