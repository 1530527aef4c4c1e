// gx-reg: reads and changes the program's registry hive from the command line.
//
//   gx-reg list KEY                  value names in the order of their creation, one per line
//   gx-reg dump KEY                  the same with each value's data: NAME, a tab, DATA (the
//                                    history's entries with the program behind each block)
//   gx-reg get KEY NAME              the value's data (exit 1 when the value is missing)
//   gx-reg set KEY NAME dword|sz DATA
//   gx-reg delete KEY NAME           (exit 1 when the value is missing)
//   gx-reg path                      the hive file in use
//
// KEY is a path such as SOFTWARE\Brevane\Gardalix\Logs. The hive is the program's own (the
// file named by GARDALIX_REGISTRY when set). Arguments and output are UTF-8; the hive holds
// Windows-1252, so a character outside that code page is refused.
// Exit status: 0 done, 1 key or value missing, 2 bad command line, 3 hive unusable or write
// refused.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/HiveLocation.h"
#include "platform/registry/RegistryHive.h"
#include "platform/text/Hex.h"

namespace {

enum Exit { kDone = 0, kMissing = 1, kUsage = 2, kHiveError = 3 };

constexpr const char* kUsageText =
    "usage : gx-reg list CLÉ\n"
    "        gx-reg dump CLÉ\n"
    "        gx-reg get CLÉ NOM\n"
    "        gx-reg set CLÉ NOM dword|sz DONNÉES\n"
    "        gx-reg delete CLÉ NOM\n"
    "        gx-reg path\n";

int Usage() {
    std::cerr << kUsageText;
    return kUsage;
}

int Fail(int status, const std::string& message) {
    std::cerr << "gx-reg : " << message << "\n";
    return status;
}

std::string Printable(const gx::RegValue& value) {
    switch (value.type) {
        case gx::RegDataType::String:
            return gx::Cp1252ToUtf8(value.data);
        case gx::RegDataType::DWord:
            if (value.data.size() == 4) {
                uint32_t number = 0;
                for (int i = 0; i < 4; ++i) {
                    number |= static_cast<uint32_t>(static_cast<unsigned char>(value.data[i]))
                              << (8 * i);
                }
                return std::to_string(number);
            }
            return gx::LowerHex(value.data);
        default:
            return gx::LowerHex(value.data);
    }
}

// A 32-bit number, decimal (negative allowed) or hexadecimal with 0x.
std::optional<uint32_t> ParseDWord(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || number < INT32_MIN || number > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(number);
}

struct Command {
    std::string verb;
    std::vector<std::string> args;  // Windows-1252
};

int Run(const Command& command, gx::RegistryHive& hive) {
    const auto& args = command.args;
    // Only set creates a missing key; reading or deleting never changes the hive's shape.
    const bool create = command.verb == "set";
    const auto key = hive.OpenKey(args[0], create);
    if (!key) {
        return create ? Fail(kHiveError, "impossible de créer la clé " + gx::Cp1252ToUtf8(args[0]))
                      : Fail(kMissing, "clé introuvable : " + gx::Cp1252ToUtf8(args[0]));
    }
    if (command.verb == "list" || command.verb == "dump") {
        for (const auto& name : hive.ValueNames(*key)) {
            std::cout << gx::Cp1252ToUtf8(name);
            if (command.verb == "dump") {
                const auto value = hive.GetValue(*key, name);
                std::cout << "\t" << (value ? Printable(*value) : std::string());
            }
            std::cout << "\n";
        }
        return kDone;
    }
    const std::string name = gx::Cp1252ToUtf8(args[1]);
    if (command.verb == "get") {
        const auto value = hive.GetValue(*key, args[1]);
        if (!value) {
            return Fail(kMissing, "valeur introuvable : " + name);
        }
        std::cout << Printable(*value) << "\n";
        return kDone;
    }
    if (command.verb == "delete") {
        if (!hive.GetValue(*key, args[1])) {
            return Fail(kMissing, "valeur introuvable : " + name);
        }
        return hive.DeleteValue(*key, args[1])
                   ? kDone
                   : Fail(kHiveError, "échec de la suppression de " + name);
    }
    gx::RegValue value;
    if (args[2] == "dword") {
        const auto number = ParseDWord(args[3]);
        if (!number) {
            return Fail(kUsage, "nombre 32 bits attendu : " + gx::Cp1252ToUtf8(args[3]));
        }
        value = gx::RegValue::FromDWord(*number);
    } else if (args[2] == "sz") {
        value = gx::RegValue::FromString(args[3]);
    } else {
        return Usage();
    }
    return hive.SetValue(*key, args[1], value) ? kDone
                                               : Fail(kHiveError, "échec de l'écriture de " + name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    Command command{argv[1], {}};
    const std::vector<std::pair<std::string, int>> arity = {
        {"list", 1}, {"dump", 1}, {"get", 2}, {"set", 4}, {"delete", 2}, {"path", 0}};
    bool known = false;
    for (const auto& [verb, count] : arity) {
        known = known || (verb == command.verb && argc - 2 == count);
    }
    if (!known) {
        return Usage();
    }
    for (int i = 2; i < argc; ++i) {
        auto text = gx::Utf8ToCp1252(argv[i]);
        if (!text) {
            return Fail(kUsage,
                        std::string("texte hors de la page de code Windows-1252 : ") + argv[i]);
        }
        command.args.push_back(*text);
    }
    if (command.verb == "path") {
        std::cout << gx::HivePath() << "\n";
        return kDone;
    }
    const auto hive = gx::ProcessHive();
    if (!hive) {
        return Fail(kHiveError, "impossible d'ouvrir le registre " + gx::HivePath());
    }
    return Run(command, *hive);
}
