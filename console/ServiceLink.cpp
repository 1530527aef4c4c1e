#include "console/ServiceLink.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "platform/codepage/Cp1252.h"
#include "service/ControlSocket.h"

namespace gx {
namespace {

using service::Answer;
using service::Command;
using service::Request;

constexpr const char* kUnreachable =
    "Le service de protection de Gardalix ne r\xC3\xA9pond pas : le changement n'a pas "
    "\xC3\xA9t\xC3\xA9 "
    "fait";

// The code typed in the console's dialog, kept for the change it was asked for.
struct TypedCode {
    std::optional<std::string> code;
};

// The payload of an answer; a refusal raises its French message, which the console shows.
std::string Ask(const std::string& path, Request request, const TypedCode* typed = nullptr) {
    if (typed && typed->code) {
        request.code = typed->code;
    }
    const std::optional<Answer> answer = service::AskService(path, request);
    if (!answer) {
        throw std::runtime_error(kUnreachable);
    }
    if (!answer->ok) {
        throw std::runtime_error(answer->payload);
    }
    return answer->payload;
}

bool StateSays(const std::string& state, const std::string& line) {
    return state.find(line + "\n") != std::string::npos;
}

Request Make(Command command, bool on = false, std::string newCode = {}) {
    Request request;
    request.command = command;
    request.on = on;
    request.newCode = std::move(newCode);
    return request;
}

}  // namespace

bool ServiceAnswers(const std::string& path) {
    const std::optional<Answer> answer = service::AskService(path, Make(Command::State));
    return answer && answer->ok;
}

ConsoleServices ServiceModeServices(ConsoleServices services, const std::string& path) {
    auto typed = std::make_shared<TypedCode>();
    // The service protects; the console neither starts nor stops anything.
    services.StartDriver = [] { return true; };
    services.ProtectedByService = [] { return true; };
    services.StopDriver = [] {};
    services.TakeBlockEvents = [] { return std::vector<BlockEvent>{}; };
    services.AddBlockLogEntry = [](const std::string&, const std::string&, const std::string&) {};
    services.ProxyAddress = [] { return std::string("127.0.0.1:3129"); };

    services.ReadPornFilter = [path] {
        return StateSays(Ask(path, Make(Command::State)), "child-protection=on");
    };
    services.WritePornFilter = [path, typed](bool on) {
        Ask(path, Make(Command::SetChildProtection, on), typed.get());
        typed->code.reset();
    };
    services.ReadLogEntries = [path] {
        std::vector<LogValue> entries;
        const std::string history = Ask(path, Make(Command::History));
        size_t start = 0;
        while (start < history.size()) {
            const size_t end = history.find('\n', start);
            const std::string line = history.substr(start, end - start);
            start = end == std::string::npos ? history.size() : end + 1;
            const size_t tab = line.find('\t');
            const std::string name = line.substr(0, tab);
            const std::string program = tab == std::string::npos ? "" : line.substr(tab + 1);
            // The console's texts are Windows-1252, as the store gives them.
            entries.push_back(
                {Utf8ToCp1252(name).value_or(name), Utf8ToCp1252(program).value_or(program)});
        }
        return entries;
    };
    // The code's hash stays in the service: the console knows only whether there is one.
    services.ReadParentalCode = [path] {
        return StateSays(Ask(path, Make(Command::State)), "parental-code=yes")
                   ? std::string("service")
                   : std::string();
    };
    services.CheckParentalCode = [path, typed](const std::string& code) {
        Request check = Make(Command::CheckCode);
        check.code = code;
        const std::optional<Answer> answer = service::AskService(path, check);
        if (answer && answer->ok) {
            typed->code = code;  // for the change the dialog was opened for
            return true;
        }
        return false;
    };
    services.WriteParentalCode = [path, typed](const std::string& hash) {
        Ask(path, Make(Command::SetCodeHash, false, hash), typed.get());
        typed->code.reset();
    };
    services.RemoveParentalCode = [path, typed] {
        Ask(path, Make(Command::RemoveCode), typed.get());
        typed->code.reset();
    };
    return services;
}

}  // namespace gx
