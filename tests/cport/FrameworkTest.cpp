// SPDX-License-Identifier: GPL-3.0-or-later
// The component framework: ownership, free notification both ways, loading, and the exception hook.

#include "cport/CPort.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace cport;

namespace {

// Every notice any probe receives, in order: (receiver, component, operation).
struct Notice {
    std::string receiver;
    TComponent* component;
    TOperation operation;
    friend bool operator==(const Notice&, const Notice&) = default;
};
using Journal = std::vector<Notice>;

class Probe : public TComponent {
public:
    Probe(std::string name, Journal* journal) : m_journal(journal) { SetName(std::move(name)); }
    const char* ClassName() const override { return "Probe"; }

    std::function<void(TComponent*, TOperation)> onNotification;
    std::function<void()> onLoaded;
    bool loadingSeenInLoaded = false;

protected:
    void Notification(TComponent* component, TOperation operation) override
    {
        if (m_journal != nullptr) m_journal->push_back({Name(), component, operation});
        if (onNotification) onNotification(component, operation);
    }
    void Loaded() override
    {
        TComponent::Loaded();
        loadingSeenInLoaded = ComponentState().Contains(csLoading);
        if (onLoaded) onLoaded();
    }

private:
    Journal* m_journal;
};

// ---- Ownership -------------------------------------------------------------------------------------

TEST(ComponentOwnership, OwnerDestroysItsComponentsLastFirst)
{
    std::vector<std::string> destroyed;
    struct Tracked : TComponent {
        Tracked(std::string n, std::vector<std::string>* destroyedLog) : log(destroyedLog) { SetName(std::move(n)); }
        ~Tracked() override { log->push_back(Name()); }
        std::vector<std::string>* log;
    };
    {
        Tracked form("form", &destroyed);
        Tracked& a = form.CreateComponent<Tracked>("a", &destroyed);
        form.CreateComponent<Tracked>("b", &destroyed);
        a.CreateComponent<Tracked>("a1", &destroyed);
        EXPECT_EQ(form.ComponentCount(), 2);
        EXPECT_EQ(a.Owner(), &form);
        EXPECT_EQ(form.Components(0), &a);
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"form", "b", "a", "a1"}));
}

TEST(ComponentOwnership, OwnerIsToldOfInsertionAndRemoval)
{
    Journal journal;
    Probe form("form", &journal);
    Probe& port = form.CreateComponent<Probe>("port", &journal);
    std::unique_ptr<TComponent> taken = form.RemoveComponent(&port);
    ASSERT_EQ(taken.get(), &port);
    EXPECT_EQ(port.Owner(), nullptr);
    EXPECT_EQ(form.ComponentCount(), 0);
    EXPECT_EQ(journal, (Journal{{"form", &port, opInsert}, {"form", &port, opRemove}}));
    EXPECT_EQ(form.RemoveComponent(&port), nullptr);
}

TEST(ComponentOwnership, ComponentDestroyedEarlyLeavesItsOwner)
{
    Journal journal;
    Probe form("form", &journal);
    Probe& port = form.CreateComponent<Probe>("port", &journal);
    form.CreateComponent<Probe>("led", &journal);
    // Taken out and destroyed by its new holder: the owner forgets it and is told.
    std::unique_ptr<TComponent> taken = form.RemoveComponent(&port);
    taken.reset();
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.Components(0)->Name(), "led");
}

TEST(ComponentOwnership, InsertRefusesNullOwnedAndCycles)
{
    Probe form("form", nullptr);
    EXPECT_THROW(form.InsertComponent(nullptr), std::invalid_argument);
    Probe& child = form.CreateComponent<Probe>("child", nullptr);
    Probe& grandChild = child.CreateComponent<Probe>("grandchild", nullptr);
    auto other = std::make_unique<Probe>("other", nullptr);
    Probe* otherRaw = other.get();
    form.InsertComponent(std::move(other));
    EXPECT_EQ(otherRaw->Owner(), &form);

    // A component that would own its own owner.
    auto formOwner = form.RemoveComponent(&child);
    EXPECT_THROW(grandChild.InsertComponent(std::move(formOwner)), std::invalid_argument);
}

TEST(ComponentOwnership, InsertedComponentInheritsDesigning)
{
    Probe form("form", nullptr);
    form.SetDesigning(true);
    Probe& port = form.CreateComponent<Probe>("port", nullptr);
    EXPECT_TRUE(port.ComponentState().Contains(csDesigning));
    form.SetDesigning(false);
    EXPECT_FALSE(port.ComponentState().Contains(csDesigning));
}

// ---- Free notification -----------------------------------------------------------------------------

TEST(FreeNotification, DestroyedComponentTellsThoseThatAskedLastAskedFirst)
{
    Journal journal;
    Probe selector("selector", &journal);
    Probe led("led", &journal);
    TComponent* portAddress = nullptr;
    {
        Probe port("port", &journal);
        portAddress = &port;
        port.FreeNotification(&selector);
        port.FreeNotification(&led);
        port.FreeNotification(&led); // asked twice, told once
    }
    EXPECT_EQ(journal, (Journal{{"led", portAddress, opRemove}, {"selector", portAddress, opRemove}}));
}

TEST(FreeNotification, ComponentDestroyedFirstIsNeverTold)
{
    // Under the address sanitizer a notice to the destroyed selector is a use after free; without it,
    // the journal would show the notice.
    Journal journal;
    auto port = std::make_unique<Probe>("port", &journal);
    auto selector = std::make_unique<Probe>("selector", &journal);
    auto led = std::make_unique<Probe>("led", &journal);
    port->FreeNotification(selector.get());
    port->FreeNotification(led.get());
    selector.reset();
    port.reset();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].receiver, "led");
}

TEST(FreeNotification, WithdrawnRequestIsNotTold)
{
    Journal journal;
    Probe selector("selector", &journal);
    {
        Probe port("port", &journal);
        port.FreeNotification(&selector);
        port.RemoveFreeNotification(&selector);
    }
    EXPECT_TRUE(journal.empty());
}

TEST(FreeNotification, WithdrawingLeavesNoStaleEntryOnTheOtherSide)
{
    Journal journal;
    auto port = std::make_unique<Probe>("port", &journal);
    {
        Probe selector("selector", &journal);
        port->FreeNotification(&selector);
        port->RemoveFreeNotification(&selector);
    }
    port.reset(); // would touch the destroyed selector if it were still listed anywhere
    EXPECT_TRUE(journal.empty());
}

TEST(FreeNotification, RecipientMayDestroyAnotherRecipientWhileBeingTold)
{
    Journal journal;
    auto second = std::make_unique<Probe>("second", &journal);
    Probe first("first", &journal);
    first.onNotification = [&](TComponent*, TOperation) { second.reset(); };
    {
        Probe port("port", &journal);
        port.FreeNotification(second.get());
        port.FreeNotification(&first); // told first: the list is walked last-asked first
    }
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].receiver, "first");
}

TEST(FreeNotification, SelfNullAndRequestsDuringDestructionAreIgnored)
{
    Journal journal;
    Probe late("late", &journal);
    Probe selector("selector", &journal);
    {
        Probe port("port", &journal);
        port.FreeNotification(nullptr);
        port.FreeNotification(&port);
        port.FreeNotification(&selector);
        // Asking a component that is being destroyed, or registering one, must not leave dangling entries.
        selector.onNotification = [&](TComponent* c, TOperation) {
            c->FreeNotification(&late);
            late.FreeNotification(c);
        };
    }
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].receiver, "selector");
}

TEST(FreeNotification, ExceptionFromARecipientGoesToTheApplicationHandler)
{
    std::vector<std::string> reported;
    auto previous = SetApplicationExceptionHandler([&](TObject* sender, const std::exception& e) {
        reported.push_back(std::string(sender->ClassName()) + ": " + e.what());
    });
    Journal journal;
    Probe thrower("thrower", &journal);
    Probe quiet("quiet", &journal);
    thrower.onNotification = [](TComponent*, TOperation) { throw EComPort(ComErrorCode(CE_RegFailed), 0); };
    {
        Probe port("port", &journal);
        port.FreeNotification(&quiet);
        port.FreeNotification(&thrower);
    }
    SetApplicationExceptionHandler(std::move(previous));
    EXPECT_EQ(reported, (std::vector<std::string>{"Probe: Link (un)registration failed"}));
    EXPECT_EQ(journal.size(), 2u); // the other recipient was still told
}

TEST(FreeNotification, DestroyingEarlyKeepsTheSenderAliveForItsRecipients)
{
    // A sender that calls Destroying() first in its destructor can still be used by the recipients.
    struct Port : TComponent {
        ~Port() override
        {
            Destroying();
            links.clear();
        }
        std::vector<int> links{1, 2, 3};
    };
    std::size_t linksSeen = 0;
    Probe led("led", nullptr);
    led.onNotification = [&](TComponent* c, TOperation) { linksSeen = static_cast<Port*>(c)->links.size(); };
    {
        Port port;
        port.FreeNotification(&led);
    }
    EXPECT_EQ(linksSeen, 3u);
}

// ---- Loading ---------------------------------------------------------------------------------------

TEST(Loading, GroupIsLoadingWhileReadThenLoadedInOrder)
{
    Probe port("port", nullptr);
    Probe led("led", nullptr);
    std::vector<std::string> order;
    port.onLoaded = [&] { order.push_back("port"); };
    led.onLoaded = [&] {
        order.push_back("led");
        EXPECT_FALSE(port.ComponentState().Contains(csLoading)); // earlier ones are done
    };
    bool loadingWhileRead = false;
    TComponent::LoadGroup({&port, &led}, [&] {
        loadingWhileRead = port.ComponentState().Contains(csLoading) && led.ComponentState().Contains(csLoading);
    });
    EXPECT_TRUE(loadingWhileRead);
    EXPECT_EQ(order, (std::vector<std::string>{"port", "led"}));
    EXPECT_FALSE(port.loadingSeenInLoaded); // the base Loaded clears the flag first
    EXPECT_FALSE(port.ComponentState().Contains(csLoading));
    EXPECT_FALSE(led.ComponentState().Contains(csLoading));
}

TEST(Loading, ReaderFailureClearsTheFlagsWithoutLoaded)
{
    Probe port("port", nullptr);
    bool loaded = false;
    port.onLoaded = [&] { loaded = true; };
    EXPECT_THROW(TComponent::LoadGroup({&port}, [] { throw std::runtime_error("bad form"); }), std::runtime_error);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(port.ComponentState().Contains(csLoading));
}

TEST(Loading, FailingLoadedDoesNotStopTheOthers)
{
    Probe port("port", nullptr);
    Probe led("led", nullptr);
    bool ledLoaded = false;
    port.onLoaded = [] { throw std::runtime_error("first"); };
    led.onLoaded = [&] { ledLoaded = true; };
    try {
        TComponent::LoadGroup({&port, &led}, {});
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "first");
    }
    EXPECT_TRUE(ledLoaded);
    EXPECT_FALSE(port.ComponentState().Contains(csLoading));
}

// ---- Application exception hook --------------------------------------------------------------------

TEST(ApplicationExceptions, InstalledHandlerReceivesSenderAndException)
{
    TObject* seenSender = nullptr;
    std::string seenMessage;
    auto previous = SetApplicationExceptionHandler([&](TObject* sender, const std::exception& e) {
        seenSender = sender;
        seenMessage = e.what();
    });
    Probe port("port", nullptr);
    HandleApplicationException(&port, EComPort(ComErrorCode(CE_OpenFailed), 2));
    EXPECT_EQ(seenSender, &port);
    EXPECT_EQ(seenMessage, "Unable to open com port (Error: 2)");

    try {
        throw 42;
    } catch (...) {
        HandleCurrentException(nullptr);
    }
    EXPECT_EQ(seenMessage, "Unknown exception");
    SetApplicationExceptionHandler(std::move(previous));
}

TEST(ApplicationExceptions, DefaultWritesTheMessageToStandardError)
{
    auto previous = SetApplicationExceptionHandler({});
    testing::internal::CaptureStderr();
    HandleApplicationException(nullptr, Exception("Port Not Open"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Port Not Open\n");
    SetApplicationExceptionHandler(std::move(previous));
}

} // namespace
