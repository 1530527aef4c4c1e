#include "engine/AccountPolicy.h"

#include <atomic>
#include <mutex>

#include "engine/ChildProtection.h"
#include "engine/ConnectionPrograms.h"

namespace gx {
namespace {

std::mutex policiesMutex;
std::shared_ptr<const AccountPolicies> published;
// Whether a table is published: per-user mode reads only this on its way to the program's own
// switch, as cheaply as it read that switch alone.
std::atomic<bool> anyPublished{false};

std::shared_ptr<const AccountPolicies> Published() {
    if (!anyPublished.load(std::memory_order_acquire)) {
        return nullptr;
    }
    std::lock_guard lock(policiesMutex);
    return published;
}

AccountPolicy PerUserPolicy() {
    return AccountPolicy{true, PornFilterOn.load(std::memory_order_relaxed)};
}

AccountPolicy Lookup(const AccountPolicies& table, uint32_t account) {
    const auto found = table.find(account);
    return found == table.end() ? AccountPolicy{} : found->second;
}

}  // namespace

void PublishAccountPolicies(AccountPolicies policies) {
    auto table = std::make_shared<const AccountPolicies>(std::move(policies));
    std::lock_guard lock(policiesMutex);
    published = std::move(table);
    anyPublished.store(true, std::memory_order_release);
}

void WithdrawAccountPolicies() {
    std::lock_guard lock(policiesMutex);
    anyPublished.store(false, std::memory_order_release);
    published.reset();
}

AccountPolicy PolicyOfAccount(uint32_t account) {
    const std::shared_ptr<const AccountPolicies> table = Published();
    return table ? Lookup(*table, account) : PerUserPolicy();
}

// The connection's account is looked up only where accounts have policies of their own.
AccountPolicy PolicyOfConnection(ENDPOINT_ID id) {
    const std::shared_ptr<const AccountPolicies> table = Published();
    return table ? Lookup(*table, AccountOfConnection(id)) : PerUserPolicy();
}

}  // namespace gx
