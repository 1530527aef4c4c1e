#include "tools/gx-driver/DriverCommands.h"

#include <filesystem>
#include <iostream>

#include "platform/driver/DriverConfig.h"
#include "service/ControlSocket.h"
#include "tools/gx-driver/FileCapability.h"
#include "tools/gx-driver/Nft.h"
#include "tools/gx-driver/NftRuleset.h"

namespace gx {
namespace {

namespace fs = std::filesystem;

const std::string kTable = std::string(kDriverTableFamily) + " " + kDriverTableName;

int Fail(const std::string& message) {
    std::cerr << "gx-driver : " << message << "\n";
    return kDriverFailed;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::string DescribePorts(const std::vector<std::uint16_t>& ports) {
    if (ports.empty()) {
        return "tous";
    }
    std::string list;
    for (size_t i = 0; i < ports.size(); ++i) {
        list += (i ? ", " : "") + std::to_string(ports[i]);
    }
    return list;
}

// The program to act on when uninstalling or checking: the one named on the command line,
// else the one the installation recorded, else the default.
std::string ProgramToCheck(const DriverOptions& options,
                           const std::optional<DriverConfig>& config) {
    if (!options.program.empty()) {
        return options.program;
    }
    if (config && !config->program.empty()) {
        return config->program;
    }
    return DefaultProgramPath();
}

// Puts back the state before a failed install, as far as it can: the previous installation's
// table, or none; the capability only where it was not before.
void RollBack(const std::optional<DriverConfig>& previous,
              const std::optional<std::string>& grantedProgram) {
    ApplyRuleset(previous ? BuildInstallRuleset(*previous) : BuildRemoveRuleset());
    if (grantedProgram && !(previous && previous->program == *grantedProgram)) {
        std::string ignored;
        RemoveCapabilities(*grantedProgram, &ignored);
    }
}

}  // namespace

std::string DefaultProgramPath() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ((ec ? fs::path(".") : self.parent_path()) / "gardalix").string();
}

int InstallDriver(const DriverOptions& options) {
    const std::string named = options.program.empty() ? DefaultProgramPath() : options.program;
    std::error_code ec;
    const fs::path program = fs::canonical(named, ec);
    if (ec || !fs::is_regular_file(program, ec)) {
        return Fail("programme introuvable : " + named + " (indiquez-le avec --program CHEMIN)");
    }

    DriverConfig config;
    config.transparentPort = options.listenPort.value_or(kDefaultTransparentPort);
    config.ports = options.ports;
    config.program = program.string();
    config.allAccounts = options.allAccounts;
    const std::string path = DriverConfigPath();
    const std::optional<DriverConfig> previous = ReadDriverConfig(path);

    const NftResult applied = ApplyRuleset(BuildInstallRuleset(config));
    if (!applied.ok) {
        return Fail("impossible de créer la table nftables " + kTable + " :\n" +
                    Trimmed(applied.output));
    }
    std::string error;
    if (!GrantNetAdmin(config.program, &error)) {
        RollBack(previous, std::nullopt);
        return Fail(error);
    }
    // The file comes last: the program opens its transparent listener when it finds it.
    if (!WriteDriverConfig(config, path, &error)) {
        RollBack(previous, config.program);
        return Fail("impossible d'écrire la configuration : " + error);
    }
    // A reinstall for another program leaves no privilege behind on the old one.
    if (previous && !previous->program.empty() && previous->program != config.program) {
        RemoveCapabilities(previous->program, &error);
    }

    std::cout << "Mode transparent installé.\n"
              << "  Table nftables " << kTable
              << " : connexions TCP sortantes (ports : " << DescribePorts(config.ports)
              << ") redirigées vers le port " << config.transparentPort
              << ", QUIC (UDP 443) refusé.\n"
              << "  Comptes concernés : "
              << (config.allAccounts ? "tous" : "celui dont le Gardalix est en marche") << "\n"
              << "  Configuration : " << path << "\n"
              << "  Capacité cap_net_admin+p donnée à " << config.program << "\n"
              << "La redirection s'applique tant que Gardalix est en marche.\n";
    return kDriverOk;
}

int UninstallDriver(const DriverOptions& options) {
    const std::string path = DriverConfigPath();
    const std::string program = ProgramToCheck(options, ReadDriverConfig(path));
    std::error_code ec;
    const bool hadTable = DriverTableExists();
    const bool hadConfig = fs::exists(path, ec);
    // Only a file that holds our capability is touched.
    const bool hadCapability = HasNetAdmin(program);
    int status = kDriverOk;

    // The table goes first: from then on no connection is sent to a listener that may be
    // about to disappear.
    const NftResult removed = ApplyRuleset(BuildRemoveRuleset());
    if (!removed.ok) {
        status = Fail("impossible de supprimer la table nftables " + kTable + " :\n" +
                      Trimmed(removed.output));
    }
    std::string error;
    if (!RemoveDriverConfig(path, &error)) {
        status = Fail(error);
    }
    if (hadCapability && !RemoveCapabilities(program, &error)) {
        status = Fail(error);
    }
    if (status != kDriverOk) {
        return status;
    }
    if (!hadTable && !hadConfig && !hadCapability) {
        std::cout << "Le mode transparent n'était pas installé : rien à retirer.\n";
        return kDriverOk;
    }
    std::cout << "Mode transparent désinstallé.\n";
    if (hadTable) {
        std::cout << "  Table nftables " << kTable << " supprimée.\n";
    }
    if (hadConfig) {
        std::cout << "  Configuration " << path << " supprimée.\n";
    }
    if (hadCapability) {
        std::cout << "  Capacité cap_net_admin retirée à " << program << "\n";
    }
    return kDriverOk;
}

int ShowDriverStatus(const DriverOptions& options) {
    const std::string path = DriverConfigPath();
    const std::optional<DriverConfig> config = ReadDriverConfig(path);
    const std::string program = ProgramToCheck(options, config);
    const bool table = DriverTableExists();
    const bool capability = HasNetAdmin(program);

    std::cout << "Table nftables " << kTable << " : " << (table ? "présente" : "absente") << "\n";
    std::cout << "Configuration " << path << " : ";
    if (config) {
        std::cout << "port d'écoute " << config->transparentPort
                  << ", ports redirigés : " << DescribePorts(config->ports) << ", comptes : "
                  << (config->allAccounts ? "tous" : "celui dont le Gardalix est en marche")
                  << "\n";
    } else {
        std::error_code ec;
        std::cout << (fs::exists(path, ec) ? "illisible ou invalide" : "absente") << "\n";
    }
    std::cout << "Capacité cap_net_admin de " << program << " : "
              << (capability ? "présente" : "absente") << "\n";

    if (table) {
        const std::string armed = ArmedFamilies();
        std::cout << "Redirection en service : "
                  << (armed.empty() ? "non (Gardalix n'a pas ouvert son mode transparent ; le "
                                      "trafic passe sans détour)"
                                    : "oui (" + armed + ")")
                  << "\n";
        if (const std::string accounts = ArmedAccounts(); !accounts.empty()) {
            std::cout << "Comptes redirigés : " << accounts << "\n";
        }
    }

    const bool installed = table && config && capability;
    const bool nothing = !table && !config && !capability;
    std::cout << "Mode transparent : "
              << (installed ? "installé"
                  : nothing ? "non installé"
                            : "installé en partie (relancez gx-driver "
                              "install, ou gx-driver uninstall)")
              << "\n";
    // Which protection runs: the system service for every account, or each account's own.
    const bool service =
        gx::service::AskService(gx::service::ControlPath(), gx::service::Request{}).has_value();
    std::cout << "Protection en service : "
              << (service ? "le service système, pour tous les comptes"
                          : "le Gardalix de chaque compte (le service ne répond pas)")
              << "\n";
    return installed ? kDriverOk : kDriverFailed;
}

}  // namespace gx
