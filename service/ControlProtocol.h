// The control channel's protocol, without a socket: how the console (or an administrator's
// tool) asks the system service, and how the service answers. Version 1.
//
// A request is one line of at most kMaxRequestBytes, ending in LF, words separated by one
// space:
//
//     GX1 [FOR <uid>] <command> [<argument>] [CODE <parental code>]
//
//   STATE                          the account's state
//   HISTORY                        the account's history, oldest first
//   SET protection on|off          the account's switches
//   SET child-protection on|off
//   SET-CODE <code>                sets the parental code (4 to 12 characters, no space)
//   SET-CODE-HASH <hash>           sets it from its stored form (the console hashes the code
//                                  as it always has: "pbkdf2-sha256$...")
//   REMOVE-CODE                    removes it
//   CHECK-CODE                     says whether CODE is the account's code (wrong ones count
//                                  towards the lockout as any other)
//
// FOR names another account (an administrator setting up a child's); without it the request is
// about the caller's own account. The caller is never named by the request: the service knows
// it from the socket (SO_PEERCRED). CODE gives the account's parental code, which the switches
// that protect a child less ask for (protection off, child protection off, a code changed or
// removed) unless the caller is an administrator.
//
// An answer is a status line, then as many bytes as it says:
//
//     OK <length>\n<payload>          the payload: UTF-8 text
//     ERR <code> <length>\n<message>  the message: French, UTF-8, for the user
//
// A request that cannot be read (not the version, an unknown command, a bad argument, too
// long) is answered with ERR and the service closes the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gx::service {

inline constexpr size_t kMaxRequestBytes = 512;
inline constexpr std::string_view kVersionWord = "GX1";

enum class Command {
    State,
    History,
    SetProtection,
    SetChildProtection,
    SetCode,
    SetCodeHash,
    RemoveCode,
    CheckCode,
};

struct Request {
    Command command = Command::State;
    std::optional<uint32_t> account;  // FOR: another account
    bool on = false;                  // SET ... on
    std::string newCode;              // SET-CODE: the code; SET-CODE-HASH: its stored form
    std::optional<std::string> code;  // CODE: the account's parental code
};

// The error codes of an answer.
enum class Refusal {
    BadRequest = 400,  // not a request of this protocol: the connection ends
    NeedsCode = 401,   // the parental code (or an administrator) is needed
    WrongCode = 403,   // the code given is not the account's
    NotYours = 404,    // another account's, and the caller is no administrator
    Failed = 500,      // the service could not do it (its state could not be written)
};

struct ParsedRequest {
    std::optional<Request> request;  // empty: refused with `problem`
    std::string problem;             // French, why the line is not a request
};

// One request line, without its LF.
ParsedRequest ParseRequest(std::string_view line);
// The line a client sends for a request, LF included.
std::string FormatRequest(const Request& request);

std::string OkAnswer(std::string_view payload);
std::string ErrAnswer(Refusal refusal, std::string_view message);

// An answer as a client reads it.
struct Answer {
    bool ok = false;
    int code = 0;         // ERR's code; 0 for OK
    std::string payload;  // OK's payload or ERR's message
};
// Reads an answer from the start of `bytes`: the answer and the bytes it took, or nothing while
// it is incomplete. A status line that is not an answer gives an answer with code -1.
std::optional<std::pair<Answer, size_t>> ReadAnswer(std::string_view bytes);

}  // namespace gx::service
