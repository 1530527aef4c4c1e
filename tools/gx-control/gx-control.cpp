// gx-control: asks the system service about an account's protection, from a terminal. Without
// --account, about one's own account; with it (an administrator: sudo), about another's.
//
//   gx-control [--account COMPTE] [--code CODE] state | history
//              | set protection|child-protection on|off | set-code CODE | remove-code
//
// Exit status: 0 done, 1 refused or the service did not answer, 2 wrong command line.
#include <pwd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "service/ControlSocket.h"

namespace {

using gx::service::Answer;
using gx::service::Command;
using gx::service::Request;

constexpr const char* kUsage =
    "Usage : gx-control [--account COMPTE] [--code CODE] COMMANDE\n"
    "  state                                   l'état de la protection du compte\n"
    "  history                                 son historique des blocages\n"
    "  set protection|child-protection on|off  change un réglage\n"
    "  set-code CODE                           définit le code parental (4 à 12 caractères)\n"
    "  remove-code                             retire le code parental\n"
    "\n"
    "Sans --account : votre propre compte. Un autre compte (nom ou numéro) : réservé aux\n"
    "administrateurs (sudo gx-control ...). --code donne le code parental du compte, que\n"
    "demandent les changements qui protègent moins un enfant.\n"
    "Codes de sortie : 0 fait, 1 refusé ou service injoignable, 2 mauvaise commande.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "gx-control : %s\n\n%s", problem.c_str(), kUsage);
    return 2;
}

std::optional<uint32_t> AccountNamed(const std::string& name) {
    uint32_t uid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), uid);
    if (error == std::errc() && end == name.data() + name.size()) {
        return uid;
    }
    if (const passwd* account = ::getpwnam(name.c_str())) {
        return static_cast<uint32_t>(account->pw_uid);
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    Request request;
    size_t at = 0;
    while (at + 1 < words.size() && (words[at] == "--account" || words[at] == "--code")) {
        if (words[at] == "--account") {
            request.account = AccountNamed(words[at + 1]);
            if (!request.account) {
                return Usage("compte inconnu : " + words[at + 1]);
            }
        } else {
            request.code = words[at + 1];
        }
        at += 2;
    }
    const std::vector<std::string> command(words.begin() + static_cast<long>(at), words.end());
    if (command == std::vector<std::string>{"state"}) {
        request.command = Command::State;
    } else if (command == std::vector<std::string>{"history"}) {
        request.command = Command::History;
    } else if (command == std::vector<std::string>{"remove-code"}) {
        request.command = Command::RemoveCode;
    } else if (command.size() == 2 && command[0] == "set-code") {
        request.command = Command::SetCode;
        request.newCode = command[1];
    } else if (command.size() == 3 && command[0] == "set" &&
               (command[1] == "protection" || command[1] == "child-protection") &&
               (command[2] == "on" || command[2] == "off")) {
        request.command =
            command[1] == "protection" ? Command::SetProtection : Command::SetChildProtection;
        request.on = command[2] == "on";
    } else {
        return Usage(command.empty() ? "commande manquante" : "commande inconnue");
    }
    if (request.code && request.code->find(' ') != std::string::npos) {
        return Usage("un code parental ne contient pas d'espace");
    }
    const std::string path = gx::service::ControlPath();
    const std::optional<Answer> answer = gx::service::AskService(path, request);
    if (!answer) {
        std::fprintf(stderr,
                     "gx-control : le service de Gardalix ne r\xC3\xA9pond pas sur %s "
                     "(systemctl status gardalix)\n",
                     path.c_str());
        return 1;
    }
    if (!answer->ok) {
        std::fprintf(stderr, "gx-control : %s\n", answer->payload.c_str());
        return 1;
    }
    std::fputs(answer->payload.c_str(), stdout);
    return 0;
}
