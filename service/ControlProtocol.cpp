#include "service/ControlProtocol.h"

#include <charconv>
#include <vector>

namespace gx::service {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    while (!line.empty()) {
        const size_t space = line.find(' ');
        words.push_back(line.substr(0, space));
        if (space == std::string_view::npos) {
            break;
        }
        line.remove_prefix(space + 1);
    }
    return words;
}

std::optional<uint32_t> Number(std::string_view text) {
    uint32_t value = 0;
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

ParsedRequest Refused(std::string problem) {
    return {std::nullopt, std::move(problem)};
}

// Printable ASCII and UTF-8 bytes, no control character: what a request's words may hold.
bool Printable(std::string_view line) {
    for (unsigned char c : line) {
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

ParsedRequest ParseRequest(std::string_view line) {
    if (line.size() > kMaxRequestBytes) {
        return Refused("demande trop longue");
    }
    if (!Printable(line)) {
        return Refused("demande illisible (caract\xC3\xA8re de contr\xC3\xB4le)");
    }
    // Words are separated by one space each: an empty word would change what the others mean.
    if (line.find("  ") != std::string_view::npos || line.starts_with(' ') || line.ends_with(' ')) {
        return Refused("espaces en trop dans la demande");
    }
    std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0] != kVersionWord) {
        return Refused("version du protocole inconnue (GX1 attendu)");
    }
    Request request;
    size_t at = 1;
    if (at + 1 < words.size() && words[at] == "FOR") {
        request.account = Number(words[at + 1]);
        if (!request.account) {
            return Refused("num\xC3\xA9ro de compte invalide");
        }
        at += 2;
    }
    // CODE <code> ends the request when given.
    if (words.size() >= at + 2 && words[words.size() - 2] == "CODE") {
        request.code = std::string(words.back());
        words.resize(words.size() - 2);
    }
    if (at >= words.size()) {
        return Refused("commande manquante");
    }
    const std::string_view command = words[at];
    const size_t arguments = words.size() - at - 1;
    if ((command == "STATE" || command == "HISTORY" || command == "REMOVE-CODE" ||
         command == "CHECK-CODE") &&
        arguments == 0) {
        request.command = command == "STATE"        ? Command::State
                          : command == "HISTORY"    ? Command::History
                          : command == "CHECK-CODE" ? Command::CheckCode
                                                    : Command::RemoveCode;
        return {request, {}};
    }
    if (command == "SET" && arguments == 2 && (words[at + 2] == "on" || words[at + 2] == "off")) {
        if (words[at + 1] == "protection") {
            request.command = Command::SetProtection;
        } else if (words[at + 1] == "child-protection") {
            request.command = Command::SetChildProtection;
        } else {
            return Refused("r\xC3\xA9glage inconnu : " + std::string(words[at + 1]));
        }
        request.on = words[at + 2] == "on";
        return {request, {}};
    }
    if ((command == "SET-CODE" || command == "SET-CODE-HASH") && arguments == 1 &&
        !words[at + 1].empty()) {
        request.command = command == "SET-CODE" ? Command::SetCode : Command::SetCodeHash;
        request.newCode = std::string(words[at + 1]);
        return {request, {}};
    }
    return Refused("commande inconnue ou incompl\xC3\xA8te : " + std::string(command));
}

std::string FormatRequest(const Request& request) {
    std::string line(kVersionWord);
    if (request.account) {
        line += " FOR " + std::to_string(*request.account);
    }
    switch (request.command) {
        case Command::State:
            line += " STATE";
            break;
        case Command::History:
            line += " HISTORY";
            break;
        case Command::SetProtection:
            line += std::string(" SET protection ") + (request.on ? "on" : "off");
            break;
        case Command::SetChildProtection:
            line += std::string(" SET child-protection ") + (request.on ? "on" : "off");
            break;
        case Command::SetCode:
            line += " SET-CODE " + request.newCode;
            break;
        case Command::SetCodeHash:
            line += " SET-CODE-HASH " + request.newCode;
            break;
        case Command::RemoveCode:
            line += " REMOVE-CODE";
            break;
        case Command::CheckCode:
            line += " CHECK-CODE";
            break;
    }
    if (request.code) {
        line += " CODE " + *request.code;
    }
    return line + "\n";
}

std::string OkAnswer(std::string_view payload) {
    return "OK " + std::to_string(payload.size()) + "\n" + std::string(payload);
}

std::string ErrAnswer(Refusal refusal, std::string_view message) {
    return "ERR " + std::to_string(static_cast<int>(refusal)) + " " +
           std::to_string(message.size()) + "\n" + std::string(message);
}

std::optional<std::pair<Answer, size_t>> ReadAnswer(std::string_view bytes) {
    const size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
        if (bytes.size() > 64) {
            return std::pair{Answer{false, -1, {}}, bytes.size()};
        }
        return std::nullopt;
    }
    const std::vector<std::string_view> words = Words(bytes.substr(0, end));
    Answer answer;
    std::optional<uint32_t> length;
    if (words.size() == 2 && words[0] == "OK") {
        answer.ok = true;
        length = Number(words[1]);
    } else if (words.size() == 3 && words[0] == "ERR") {
        const std::optional<uint32_t> code = Number(words[1]);
        answer.code = code ? static_cast<int>(*code) : -1;
        length = Number(words[2]);
    }
    if (!length || answer.code < 0) {
        return std::pair{Answer{false, -1, {}}, end + 1};
    }
    if (bytes.size() - end - 1 < *length) {
        return std::nullopt;
    }
    answer.payload = std::string(bytes.substr(end + 1, *length));
    return std::pair{answer, end + 1 + *length};
}

}  // namespace gx::service
