// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small component framework the port and its controls are built on: objects with a class name,
// persistent objects that copy by assignment, components with an owner, a name, a component state
// (Designing, Loading) and free notification, the exception base, and the application-level handler
// for exceptions that nobody else catches.
//
// Threads: everything here belongs to the thread that owns the components (the main thread). Nothing
// is synchronised.

#include "cport/Set.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cport {

// ---- Exceptions ------------------------------------------------------------------------------------

// The base of this library's exceptions: a message, which is also what().
class Exception : public std::exception {
public:
    // An exception with this message.
    explicit Exception(std::string message) : m_message(std::move(message)) {}

    // The message; what() gives the same text.
    const std::string& Message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); } // the message

private:
    std::string m_message;
};

// A value that cannot be converted or copied into another, e.g. assigning a persistent object from
// one of an unrelated class.
class EConvertError : public Exception {
public:
    // The message only.
    using Exception::Exception;
};

// ---- Objects ---------------------------------------------------------------------------------------

// The root of this library's classes: not copyable, with a class name for messages.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // The class's own name ("TComParity"); each class that can meet the user in a message overrides it.
    virtual const char* ClassName() const { return "TObject"; }
};

// An object whose value can be copied from another by Assign.
class TPersistent : public TObject {
public:
    const char* ClassName() const override { return "TPersistent"; }

    // Copies `source` into this object. The default asks the source to copy itself into this object
    // (AssignTo); a class that knows how to copy from `source` overrides this and calls the base for
    // every source it does not know. Throws EConvertError "Cannot assign a <source class> to a
    // <this class>" ("nil" when source is null) when neither side knows how.
    virtual void Assign(const TPersistent* source);

protected:
    // Copies this object into `dest`; the default refuses with the assignment error.
    virtual void AssignTo(TPersistent* dest) const;
    // Throws the assignment error (EConvertError) for `source` into this object.
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

// ---- Components ------------------------------------------------------------------------------------

// The states a component can be in (TComponent::ComponentState).
enum TComponentStateFlag : std::uint8_t {
    csLoading,    // stored properties are being read (see TComponent::LoadGroup)
    csDesigning,  // the component is being edited by a design tool; nothing reaches a device
    csDestroying, // the component is being destroyed; it accepts no new free-notification requests
};
using TComponentState = Set<TComponentStateFlag, std::uint8_t>; // the set of a component's states

// What TComponent::Notification tells: a component was inserted or is being removed.
enum TOperation : std::uint8_t { opInsert, opRemove };

// A component: a named object that may be owned by another component (which then destroys it), that
// carries the Designing and Loading states, and that can ask other components to tell it when they are
// destroyed.
//
// Ownership: an owner holds its components as unique pointers (CreateComponent, InsertComponent) and
// destroys them, last inserted first, when it is destroyed. A component destroyed earlier leaves its
// owner's list, and the owner is sent Notification(component, opRemove).
//
// Free notification: B->FreeNotification(A) asks B to call A->Notification(B, opRemove) when B is
// destroyed. It works both ways: when A is destroyed first it leaves B's list, so no notice ever
// reaches a destroyed component. The notices are sent by Destroying(): a class whose recipients may
// still call it while being told (a port whose controls detach from it, say) calls Destroying() first
// thing in its own destructor, while its members are still alive; otherwise ~TComponent sends them.
// A recipient must not expect the sender's derived part to be alive in any other case: compare the
// pointer, and call only what the sender's class documents as callable then.
//
// Not copyable, not movable: other components hold its address.
class TComponent : public TPersistent {
public:
    TComponent() = default;
    ~TComponent() override;
    const char* ClassName() const override { return "TComponent"; }

    // The component's name (a port's name is its ini section).
    const std::string& Name() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }

    // Loading, designing, destroying.
    TComponentState ComponentState() const { return m_state; }
    // Marks this component and the components it owns as being (or no longer being) designed.
    void SetDesigning(bool designing);

    // ---- Ownership
    // The owner, null when none.
    TComponent* Owner() const { return m_owner; }
    // The components this one owns, and each of them by index (0 .. ComponentCount() - 1).
    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    // The owned component at `index`.
    TComponent* Components(int index) const { return m_components.at(static_cast<std::size_t>(index)).get(); }

    // Creates a T from `args` and makes this component its owner; returns it.
    template <typename T, typename... Args>
    T& CreateComponent(Args&&... args)
    {
        auto component = std::make_unique<T>(std::forward<Args>(args)...);
        T& result = *component;
        InsertComponent(std::move(component));
        return result;
    }
    // Takes ownership of `component`, which inherits Designing; then Notification(component, opInsert).
    // Throws std::invalid_argument for a null component, one that already has an owner, or one that
    // would own this component.
    void InsertComponent(std::unique_ptr<TComponent> component);
    // Gives up ownership of `component` (null when this component does not own it); then
    // Notification(component, opRemove).
    std::unique_ptr<TComponent> RemoveComponent(TComponent* component);

    // ---- Free notification
    // Asks this component to tell `component` (by Notification(this, opRemove)) when it is destroyed.
    // Asking twice is asking once; null, this component itself and components being destroyed are ignored.
    void FreeNotification(TComponent* component);
    // Withdraws the request made by FreeNotification(component).
    void RemoveFreeNotification(TComponent* component);

    // ---- Loading
    // Runs the loading protocol on a group of components: marks each one Loading, runs
    // `readStoredProperties` (which sets their stored properties through the ordinary setters), then
    // calls Loaded() on each in order; every flag is cleared at the end. When the reader throws, the
    // flags are cleared, each component's LoadFailed() runs instead of Loaded(), and the exception
    // propagates; when a Loaded() throws, the others still run and the first exception propagates
    // afterwards.
    static void LoadGroup(std::span<TComponent* const> group, const std::function<void()>& readStoredProperties);
    static void LoadGroup(std::initializer_list<TComponent*> group, const std::function<void()>& readStoredProperties);

protected:
    // Told of components inserted into or removed from this one, and of the destruction of components
    // this one asked for free notification. The default does nothing. An exception escaping it while a
    // component is being destroyed goes to HandleApplicationException.
    virtual void Notification(TComponent* component, TOperation operation);

    // Runs once the component's stored properties have been read; the default clears Loading.
    // Overrides call the base first.
    virtual void Loaded();
    // Runs instead of Loaded() when reading the stored properties failed part way, with Loading
    // already cleared: a component puts back what a half-read form left inconsistent. The default
    // does nothing.
    virtual void LoadFailed() noexcept;

    // Starts destruction: marks the component Destroying, tells every component that asked for free
    // notification, leaves the lists of the components this one asked, destroys the owned components
    // and leaves its owner. Runs once; later calls do nothing. Called by ~TComponent at the latest.
    void Destroying() noexcept;

private:
    void DestroyOwned() noexcept;
    void LeaveOwner() noexcept;
    static void Erase(std::vector<TComponent*>& list, const TComponent* component);
    static void NotifyGuarded(TComponent* recipient, TComponent* component, TOperation operation) noexcept;

    std::string m_name;
    TComponentState m_state;
    TComponent* m_owner = nullptr;
    std::vector<std::unique_ptr<TComponent>> m_components;
    std::vector<TComponent*> m_notifyOnFree; // components that asked to be told when this one is destroyed
    std::vector<TComponent*> m_askedOf;      // components this one asked to be told about
};

// ---- Application exception handling ----------------------------------------------------------------

// Receives exceptions that escape a handler run from the event loop. The GUI points it at its error
// box; the default writes the message (what()) and a line break to standard error.
using TApplicationExceptionHandler = std::function<void(TObject* sender, const std::exception& e)>;

// Installs `handler` (an empty one restores the default) and returns the previous one.
// Main thread only, like the calls below.
TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler handler);

// Hands `e` to the installed handler. An exception the handler itself throws propagates.
void HandleApplicationException(TObject* sender, const std::exception& e);

// Hands the exception being handled to HandleApplicationException; call it inside a catch block. An
// exception of a type not derived from std::exception is reported as "Unknown exception".
void HandleCurrentException(TObject* sender);

} // namespace cport
