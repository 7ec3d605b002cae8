#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velmora {

// The narrow view of an undo manager that model controllers hold: groups,
// action names, whether it is undoing or redoing, and registration of an entry
// whose target is held weakly (an entry whose target is gone does nothing).
class RegistrationUndoManager {
public:
    virtual ~RegistrationUndoManager() = default;

    virtual void beginUndoGrouping() = 0;
    virtual void endUndoGrouping() = 0;
    virtual void setActionName(const std::string& name) = 0;
    virtual bool isUndoing() const = 0;
    virtual bool isRedoing() const = 0;
    // What `registrations` register becomes an entry of its own at once, apart
    // from the groups open now (which close later, above it): for work that
    // completes after the event that caused it, which must join no other
    // edit's entry whatever else this turn of the event loop registers. While
    // undoing or redoing they go where every registration goes.
    virtual void registerSeparateEntry(const std::function<void()>& registrations) = 0;

    // `handler` receives the target, kept alive for the call.
    template <class T>
    void registerUndo(const std::shared_ptr<T>& target, std::function<void(T&)> handler) {
        registerUndoAction(
            std::static_pointer_cast<void>(target),
            [handler = std::move(handler)](void* object) { handler(*static_cast<T*>(object)); });
    }

protected:
    // `target` is the object as the caller gave it; identity is its owner.
    virtual void registerUndoAction(const std::shared_ptr<void>& target,
                                    std::function<void(void*)> handler) = 0;
};

} // namespace velmora
