#pragma once

#include <memory>

namespace velmora {

// The common base of the desktop layer's objects that are passed around
// untyped: represented objects, action senders. Always owned by a shared_ptr,
// so an object can hand out shared and weak references to itself.
class NSObject : public std::enable_shared_from_this<NSObject> {
public:
    NSObject() = default;
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;
    virtual ~NSObject() = default;

    // This object as its own class; empty when it is not (yet) owned by a shared_ptr.
    template <class T> std::shared_ptr<T> sharedAs() {
        return std::static_pointer_cast<T>(weak_from_this().lock());
    }
    template <class T> std::weak_ptr<T> weakAs() { return sharedAs<T>(); }
};

} // namespace velmora
