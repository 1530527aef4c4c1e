// What each account's protection is, for a protection that serves several accounts at once (the
// system service). A request is judged by one whole policy, read once: the table of policies is
// immutable and replaced whole, its pointer copied under a small lock, as the lists in use are.
//
// Per-user mode (the program of one account) publishes no table: every request is then judged
// by that program's own switch (PornFilterOn), as it always was. Once a table is published, a
// connection is judged by the policy of the account that owns it; an account without a policy
// of its own, or a connection whose account the kernel could not tell, gets the default policy
// (protection on, child protection off): never less protection than an unknown account would
// have had.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "api/interception/NetFilter2API.h"
#include "engine/ConnectionPrograms.h"

namespace gx {

struct AccountPolicy {
    bool protection = true;        // off: the account's requests pass unjudged
    bool childProtection = false;  // adult sites are blocked too

    bool operator==(const AccountPolicy&) const = default;
};

using AccountPolicies = std::map<uint32_t, AccountPolicy>;

// Replaces the whole table (any thread); the requests judged from then on see the new one.
void PublishAccountPolicies(AccountPolicies policies);
// Back to per-user mode: no table.
void WithdrawAccountPolicies();
// The policy a request of this account is judged by now.
AccountPolicy PolicyOfAccount(uint32_t account);
// The policy a request on this connection is judged by now (its account as admission learned
// it).
AccountPolicy PolicyOfConnection(ENDPOINT_ID id);

}  // namespace gx
