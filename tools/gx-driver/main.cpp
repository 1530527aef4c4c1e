// gx-driver: installs, removes and checks the transparent mode of the interception, which
// sends every outbound TCP connection of the machine through Gardalix. Run as root.
#include <unistd.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/driver/DriverConfig.h"
#include "tools/gx-driver/DriverCommands.h"

namespace {

using namespace gx;

constexpr const char* kUsage =
    "Usage : gx-driver install [--ports LISTE] [--listen-port PORT] [--program CHEMIN]\n"
    "        gx-driver uninstall [--program CHEMIN]\n"
    "        gx-driver status [--program CHEMIN]\n"
    "\n"
    "  install    redirige les connexions TCP sortantes de la machine vers Gardalix\n"
    "             (table nftables inet gardalix), refuse QUIC (UDP 443), enregistre le\n"
    "             port d'écoute et donne au programme la capacité cap_net_admin.\n"
    "             Relancer install remplace l'installation précédente.\n"
    "  uninstall  retire tout cela ; sans effet si rien n'est installé.\n"
    "  status     indique ce qui est installé (code de sortie 0 si tout l'est).\n"
    "\n"
    "  --ports LISTE        seulement ces ports de destination, par exemple 80,8080\n"
    "                       (par défaut : tous)\n"
    "  --listen-port PORT   port d'écoute du mode transparent (par défaut : 3130)\n"
    "  --program CHEMIN     le programme Gardalix (par défaut : gardalix à côté de\n"
    "                       gx-driver)\n"
    "\n"
    "Codes de sortie : 0 réussi, 1 échec ou installation incomplète, 2 mauvaise\n"
    "commande, 3 pas lancé en tant que root.\n";

int Usage(const std::string& problem) {
    std::cerr << "gx-driver : " << problem << "\n\n" << kUsage;
    return kDriverUsage;
}

struct CommandLine {
    std::string command;
    DriverOptions options;
    std::string problem;  // not empty when the command line is wrong
};

CommandLine Parse(int argc, char** argv) {
    CommandLine line;
    if (argc < 2) {
        line.problem = "commande manquante";
        return line;
    }
    line.command = argv[1];
    if (line.command != "install" && line.command != "uninstall" && line.command != "status") {
        line.problem = "commande inconnue : " + line.command;
        return line;
    }
    const bool installing = line.command == "install";
    for (int i = 2; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool known = option == "--program" ||
                           (installing && (option == "--ports" || option == "--listen-port"));
        if (!known) {
            line.problem = "option inconnue pour " + line.command + " : " + std::string(option);
            return line;
        }
        if (i + 1 >= argc) {
            line.problem = "valeur manquante après " + std::string(option);
            return line;
        }
        const std::string value = argv[++i];
        if (option == "--program") {
            line.options.program = value;
        } else if (option == "--ports") {
            const auto ports = ParsePortList(value);
            if (!ports) {
                line.problem = "liste de ports invalide : " + value +
                               " (des nombres de 1 à 65535 séparés par des virgules)";
                return line;
            }
            line.options.ports = *ports;
        } else {
            const auto port = ParsePortList(value);
            if (!port || port->size() != 1 || value.find(',') != std::string::npos) {
                line.problem = "port d'écoute invalide : " + value + " (un nombre de 1 à 65535)";
                return line;
            }
            line.options.listenPort = port->front();
        }
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = Parse(argc, argv);
    if (!line.problem.empty()) {
        return Usage(line.problem);
    }
    if (::geteuid() != 0) {
        std::cerr << "gx-driver : cette commande doit être lancée en tant qu'administrateur "
                     "(root), par exemple : sudo gx-driver "
                  << line.command << "\n";
        return kDriverNotRoot;
    }
    if (line.command == "install") {
        return InstallDriver(line.options);
    }
    if (line.command == "uninstall") {
        return UninstallDriver(line.options);
    }
    return ShowDriverStatus(line.options);
}
