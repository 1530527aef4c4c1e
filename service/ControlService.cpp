#include "service/ControlService.h"

#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "platform/codepage/Cp1252.h"
#include "platform/program/LocalTime.h"
#include "store/ParentalCode.h"

namespace gx::service {
namespace {

// The switches that protect a child less.
bool WeakensProtection(const Request& request) {
    switch (request.command) {
        case Command::SetProtection:
        case Command::SetChildProtection:
            return !request.on;
        case Command::SetCode:
        case Command::SetCodeHash:
        case Command::RemoveCode:
        case Command::CheckCode:
            return true;
        default:
            return false;
    }
}

}  // namespace

ControlService::ControlService(AccountStore& store, AdministratorCheck isAdministrator)
    : store_(store), isAdministrator_(std::move(isAdministrator)) {}

void ControlService::PublishPolicies() {
    PublishAccountPolicies(store_.Policies());
}

std::string ControlService::Handle(std::string_view line, const Caller& caller, bool& closeAfter) {
    closeAfter = false;
    const ParsedRequest parsed = ParseRequest(line);
    if (!parsed.request) {
        closeAfter = true;
        return ErrAnswer(Refusal::BadRequest,
                         "Demande refus\xC3\xA9"
                         "e : " +
                             parsed.problem);
    }
    const Request& request = *parsed.request;
    const uint32_t account = request.account.value_or(caller.account);
    // Asked before the lock: polkit may wait for a password typed in the desktop's box.
    const bool administrator =
        (account != caller.account ||
         (WeakensProtection(request) && request.command != Command::CheckCode && !request.code &&
          !store_.Read(account).codeHash.empty())) &&
        isAdministrator_(caller);
    std::lock_guard lock(mutex_);
    if (account != caller.account && !administrator) {
        return ErrAnswer(Refusal::NotYours,
                         "Ce compte n'est pas le v\xC3\xB4tre : seul un administrateur peut "
                         "g\xC3\xA9rer la protection d'un autre compte.");
    }
    switch (request.command) {
        case Command::State:
            return OkAnswer(State(account));
        case Command::History:
            return OkAnswer(History(account));
        default:
            return Change(request, account, administrator);
    }
}

std::string ControlService::State(uint32_t account) {
    const AccountSettings settings = store_.Read(account);
    return std::string("protection=") + (settings.policy.protection ? "on" : "off") +
           "\nchild-protection=" + (settings.policy.childProtection ? "on" : "off") +
           "\nparental-code=" + (settings.codeHash.empty() ? "no" : "yes") + "\n";
}

std::string ControlService::History(uint32_t account) {
    std::string text;
    for (const HistoryEntry& entry : store_.History(account)) {
        text += Cp1252ToUtf8(entry.name) + "\t" + Cp1252ToUtf8(entry.program) + "\n";
    }
    return text;
}

std::string ControlService::CodeRefusal(const Request& request, uint32_t account,
                                        const AccountSettings& settings, bool administrator) {
    if (request.command == Command::CheckCode && settings.codeHash.empty()) {
        return ErrAnswer(Refusal::WrongCode,
                         "Aucun code parental n'est dÃ©"
                         "fini.");
    }
    if ((administrator && request.command != Command::CheckCode) || settings.codeHash.empty() ||
        !WeakensProtection(request)) {
        return {};
    }
    Tries& tries = tries_[account];
    if (now_() < tries.lockedUntil) {
        return ErrAnswer(Refusal::WrongCode,
                         "Trop de codes parentaux incorrects : r\xC3\xA9"
                         "essayez dans une "
                         "minute.");
    }
    if (!request.code) {
        return ErrAnswer(Refusal::NeedsCode,
                         "Le code parental est demand\xC3\xA9 pour ce changement.");
    }
    if (!ParentalCodeMatches(*request.code, settings.codeHash)) {
        if (++tries.wrong >= kCodeTriesMax) {
            tries.wrong = 0;
            tries.lockedUntil = now_() + kCodeLockout;
        }
        return ErrAnswer(Refusal::WrongCode, "Code parental incorrect.");
    }
    tries.wrong = 0;
    return {};
}

std::string ControlService::Change(const Request& request, uint32_t account, bool administrator) {
    AccountSettings settings = store_.Read(account);
    if (std::string refusal = CodeRefusal(request, account, settings, administrator);
        !refusal.empty()) {
        return refusal;
    }
    switch (request.command) {
        case Command::SetProtection:
            settings.policy.protection = request.on;
            break;
        case Command::SetChildProtection:
            settings.policy.childProtection = request.on;
            break;
        case Command::SetCode: {
            const size_t length = ParentalCodeLength(request.newCode);
            if (length == std::string::npos || length < kParentalCodeMinLength ||
                length > kParentalCodeMaxLength) {
                return ErrAnswer(
                    Refusal::BadRequest,
                    "Le code parental doit compter de 4 \xC3\xA0 12 caract\xC3\xA8res.");
            }
            settings.codeHash = HashParentalCode(request.newCode);
            break;
        }
        case Command::SetCodeHash:
            if (!request.newCode.starts_with("pbkdf2-sha256$") || request.newCode.size() > 200) {
                return ErrAnswer(Refusal::BadRequest, "Forme de code parental inconnue.");
            }
            settings.codeHash = request.newCode;
            break;
        case Command::RemoveCode:
            settings.codeHash.clear();
            break;
        case Command::CheckCode:
            return OkAnswer(State(account));  // the code was right
        default:
            break;
    }
    std::string error;
    if (!store_.Write(account, settings, &error)) {
        return ErrAnswer(Refusal::Failed,
                         "Le changement n'a pas pu \xC3\xAAtre fait : " + error + ".");
    }
    PublishPolicies();
    return OkAnswer(State(account));
}

void ControlService::Record(const BlockEvent& block) {
    if (block.account == kUnknownAccount) {
        return;
    }
    // Lines are appended whole by one write each: no lock is needed beside the requests.
    const std::string date = LocalTimeText(std::time(nullptr), "%d/%m/%Y %H:%M:%S");
    store_.AppendHistory(block.account,
                         {date + "|" + block.url + "|" + block.reason, block.program});
}

bool IsAdministrator(const Caller& caller) {
    if (caller.account == 0) {
        return true;
    }
    // pkcheck asks polkit about the caller's process; it may show the desktop's password box.
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string process = std::to_string(caller.process);
        ::execlp("pkcheck", "pkcheck", "--action-id", "fr.gardalix.manage", "--process",
                 process.c_str(), "--allow-user-interaction", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace gx::service
