// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/Framework.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace cport {

// ---- TPersistent -----------------------------------------------------------------------------------

void TPersistent::Assign(const TPersistent* source)
{
    if (source == nullptr) AssignError(nullptr);
    source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const
{
    const std::string sourceName = source != nullptr ? source->ClassName() : "nil";
    throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

// ---- TComponent ------------------------------------------------------------------------------------

TComponent::~TComponent() { Destroying(); }

void TComponent::SetDesigning(bool designing)
{
    if (designing) m_state.Include(csDesigning);
    else m_state.Exclude(csDesigning);
    for (const auto& component : m_components) component->SetDesigning(designing);
}

void TComponent::InsertComponent(std::unique_ptr<TComponent> component)
{
    if (!component) throw std::invalid_argument("InsertComponent: no component");
    if (component->m_owner != nullptr)
        throw std::invalid_argument("InsertComponent: the component already has an owner");
    for (const TComponent* c = this; c != nullptr; c = c->m_owner)
        if (c == component.get()) throw std::invalid_argument("InsertComponent: the component would own itself");

    TComponent* inserted = component.get();
    inserted->m_owner = this;
    if (m_state.Contains(csDesigning)) inserted->SetDesigning(true);
    m_components.push_back(std::move(component));
    Notification(inserted, opInsert);
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent* component)
{
    auto it = std::find_if(m_components.begin(), m_components.end(),
                           [component](const auto& owned) { return owned.get() == component; });
    if (it == m_components.end()) return nullptr;
    std::unique_ptr<TComponent> removed = std::move(*it);
    m_components.erase(it);
    removed->m_owner = nullptr;
    Notification(removed.get(), opRemove);
    return removed;
}

void TComponent::FreeNotification(TComponent* component)
{
    if (component == nullptr || component == this) return;
    if (m_state.Contains(csDestroying) || component->m_state.Contains(csDestroying)) return;
    if (std::find(m_notifyOnFree.begin(), m_notifyOnFree.end(), component) != m_notifyOnFree.end()) return;
    m_notifyOnFree.push_back(component);
    component->m_askedOf.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component)
{
    if (component == nullptr) return;
    Erase(m_notifyOnFree, component);
    Erase(component->m_askedOf, this);
}

void TComponent::LoadGroup(std::initializer_list<TComponent*> group, const std::function<void()>& readStoredProperties)
{
    LoadGroup(std::span<TComponent* const>(group.begin(), group.size()), readStoredProperties);
}

void TComponent::LoadGroup(std::span<TComponent* const> group, const std::function<void()>& readStoredProperties)
{
    for (TComponent* c : group) c->m_state.Include(csLoading);
    try {
        if (readStoredProperties) readStoredProperties();
    } catch (...) {
        for (TComponent* c : group) {
            c->m_state.Exclude(csLoading);
            c->LoadFailed();
        }
        throw;
    }
    std::exception_ptr first;
    for (TComponent* c : group) {
        try {
            c->Loaded();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
        c->m_state.Exclude(csLoading);
    }
    if (first) std::rethrow_exception(first);
}

void TComponent::Notification(TComponent* /*component*/, TOperation /*operation*/) {}

void TComponent::Loaded() { m_state.Exclude(csLoading); }

void TComponent::LoadFailed() noexcept {}

void TComponent::Destroying() noexcept
{
    if (m_state.Contains(csDestroying)) return;
    m_state.Include(csDestroying);

    // A recipient may destroy other recipients while it is told; each one leaves this list as it goes,
    // so the list is consumed from the live vector, never from a copy.
    while (!m_notifyOnFree.empty()) {
        TComponent* recipient = m_notifyOnFree.back();
        m_notifyOnFree.pop_back();
        Erase(recipient->m_askedOf, this);
        NotifyGuarded(recipient, this, opRemove);
    }
    while (!m_askedOf.empty()) {
        TComponent* asked = m_askedOf.back();
        m_askedOf.pop_back();
        Erase(asked->m_notifyOnFree, this);
    }
    DestroyOwned();
    LeaveOwner();
}

void TComponent::DestroyOwned() noexcept
{
    while (!m_components.empty()) {
        std::unique_ptr<TComponent> last = std::move(m_components.back());
        m_components.pop_back();
        last->m_owner = nullptr; // destroyed by its owner: the owner is not told
        last.reset();
    }
}

void TComponent::LeaveOwner() noexcept
{
    TComponent* owner = m_owner;
    if (owner == nullptr) return;
    m_owner = nullptr;
    auto it = std::find_if(owner->m_components.begin(), owner->m_components.end(),
                           [this](const auto& owned) { return owned.get() == this; });
    if (it != owner->m_components.end()) {
        (void)it->release(); // this object is being destroyed by someone else; the owner must not
        owner->m_components.erase(it);
    }
    if (!owner->m_state.Contains(csDestroying)) NotifyGuarded(owner, this, opRemove);
}

void TComponent::Erase(std::vector<TComponent*>& list, const TComponent* component)
{
    list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

void TComponent::NotifyGuarded(TComponent* recipient, TComponent* component, TOperation operation) noexcept
{
    try {
        recipient->Notification(component, operation);
    } catch (...) {
        try {
            HandleCurrentException(recipient);
        } catch (...) {
            // The handler itself failed while a component is being destroyed; nothing can report it.
        }
    }
}

// ---- Application exception handling ----------------------------------------------------------------

namespace {

void WriteToStandardError(TObject* /*sender*/, const std::exception& e) { std::cerr << e.what() << '\n'; }

TApplicationExceptionHandler& InstalledHandler()
{
    static TApplicationExceptionHandler handler = WriteToStandardError;
    return handler;
}

} // namespace

TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler handler)
{
    TApplicationExceptionHandler previous = std::move(InstalledHandler());
    InstalledHandler() = handler ? std::move(handler) : TApplicationExceptionHandler(WriteToStandardError);
    return previous;
}

void HandleApplicationException(TObject* sender, const std::exception& e)
{
    // A copy, so that a handler that replaces itself is not destroyed while it runs.
    const TApplicationExceptionHandler handler = InstalledHandler();
    handler(sender, e);
}

void HandleCurrentException(TObject* sender)
{
    try {
        throw;
    } catch (const std::exception& e) {
        HandleApplicationException(sender, e);
    } catch (...) {
        HandleApplicationException(sender, Exception("Unknown exception"));
    }
}

} // namespace cport
