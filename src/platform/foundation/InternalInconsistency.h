#pragma once

#include <stdexcept>
#include <string>
#include <typeinfo>

// A programming error: a violated precondition that normal use never reaches. The program never
// catches it; tests expect it. what() is the fixed description.
class InternalInconsistency : public std::logic_error {
public:
    InternalInconsistency(std::string description, std::string operation, std::string object,
                          std::string file, int line);

    const std::string& description() const { return m_description; }
    const std::string& operation() const { return m_operation; }
    // The class of the object the operation ran on (or the name given for free functions).
    const std::string& object() const { return m_object; }
    // The source file's base name.
    const std::string& file() const { return m_file; }
    int line() const { return m_line; }

private:
    std::string m_description;
    std::string m_operation;
    std::string m_object;
    std::string m_file;
    int m_line;
};

[[noreturn]] void raiseInternalInconsistency(std::string description, const char* operation,
                                             std::string object, const char* file, int line);

// The readable class name of a polymorphic or plain object, for failure reports.
std::string qmClassName(const std::type_info& type);

template <typename T> std::string qmObjectName(const T* object)
{
    return object ? qmClassName(typeid(*object)) : std::string("nil");
}

// Member functions: the object is `this`.
#define QM_ASSERT(condition, description)                                                                    \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            raiseInternalInconsistency((description), __func__, qmObjectName(this), __FILE__, __LINE__);     \
    } while (0)

// Free and static functions name their object themselves.
#define QM_CASSERT(condition, objectName, description)                                                       \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            raiseInternalInconsistency((description), __func__, (objectName), __FILE__, __LINE__);           \
    } while (0)

// Parameter checks report the condition in the words the program has always used for it.
#define QM_PARAMETER_ASSERT(condition, conditionText)                                                        \
    QM_ASSERT(condition, std::string("Invalid parameter not satisfying: ") + (conditionText))
