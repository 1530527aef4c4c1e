// gx-driver: installs, removes and checks the transparent mode of the interception, which
// sends every outbound TCP connection of the machine through Gardalix, and the trust of the
// root authority that HTTPS interception needs. Run as root, but for trust, untrust and
// status with --user, which act for the calling user's browsers only.
//
// For tests, every path and command can be named by the environment: GARDALIX_DRIVER_CONF
// (the configuration file), GARDALIX_CA_DIR, GARDALIX_UPDATE_CA_CERTIFICATES and
// GARDALIX_CERTUTIL (the machine's store and NSS, see TrustStores.h) and GARDALIX_USER_HOME (the
// home folder of the user acted for, see TrustUser.h).
#include <unistd.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/driver/DriverConfig.h"
#include "tools/gx-driver/DriverCommands.h"
#include "tools/gx-driver/TrustCommands.h"

namespace {

using namespace gx;

constexpr const char* kUsage =
    "Usage : gx-driver install [--ports LISTE] [--listen-port PORT] [--program CHEMIN]\n"
    "                          [--all-accounts]\n"
    "        gx-driver uninstall [--program CHEMIN]\n"
    "        gx-driver status [--program CHEMIN | --user] [--data-home DOSSIER]\n"
    "        gx-driver trust [--user] [--data-home DOSSIER]\n"
    "        gx-driver untrust [--user] [--data-home DOSSIER]\n"
    "\n"
    "  install    redirige les connexions TCP sortantes de la machine vers Gardalix\n"
    "             (table nftables inet gardalix), refuse QUIC (UDP 443), enregistre le\n"
    "             port d'écoute et donne au programme la capacité cap_net_admin.\n"
    "             Relancer install remplace l'installation précédente.\n"
    "  uninstall  retire tout cela ; sans effet si rien n'est installé.\n"
    "  status     indique ce qui est installé (code de sortie 0 si le mode transparent\n"
    "             l'est), puis l'état de l'interception HTTPS. Avec --user, seulement\n"
    "             l'interception HTTPS de l'utilisateur (code 0 si elle est activée).\n"
    "  trust      crée le certificat racine de l'utilisateur (s'il n'existe pas), l'installe\n"
    "             dans le magasin du système (update-ca-certificates) et dans les bases de\n"
    "             Chromium et Firefox (certutil, paquet libnss3-tools), puis active\n"
    "             l'interception HTTPS. Lancé par sudo ou pkexec, agit pour l'utilisateur\n"
    "             qui l'a demandé.\n"
    "  untrust    désactive l'interception HTTPS et retire la racine de partout ; sans\n"
    "             effet si rien n'est installé.\n"
    "\n"
    "  --ports LISTE        seulement ces ports de destination, par exemple 80,8080\n"
    "                       (par défaut : tous)\n"
    "  --listen-port PORT   port d'écoute du mode transparent (par défaut : 3130)\n"
    "  --all-accounts       les connexions de tous les comptes (pour le service\n"
    "                       système) ; par défaut, seulement celles du compte dont le\n"
    "                       Gardalix est en marche\n"
    "  --program CHEMIN     le programme Gardalix (par défaut : gardalix à côté de\n"
    "                       gx-driver)\n"
    "  --user               seulement les navigateurs de l'utilisateur, sans le magasin\n"
    "                       du système : pas besoin d'être administrateur\n"
    "  --data-home DOSSIER  le dossier de données de l'utilisateur (par défaut :\n"
    "                       XDG_DATA_HOME, sinon ~/.local/share)\n"
    "\n"
    "Codes de sortie : 0 réussi, 1 échec ou installation incomplète, 2 mauvaise\n"
    "commande, 3 pas lancé en tant que root.\n"
    "\n"
    "Variables d'environnement (pour les tests) : GARDALIX_DRIVER_CONF (fichier de\n"
    "configuration), GARDALIX_CA_DIR (dossier du magasin du système, par défaut\n"
    "/usr/local/share/ca-certificates), GARDALIX_UPDATE_CA_CERTIFICATES (la commande\n"
    "update-ca-certificates), GARDALIX_CERTUTIL (la commande certutil),\n"
    "GARDALIX_USER_HOME (le dossier personnel de l'utilisateur concerné).\n";

int Usage(const std::string& problem) {
    std::cerr << "gx-driver : " << problem << "\n\n" << kUsage;
    return kDriverUsage;
}

struct CommandLine {
    std::string command;
    DriverOptions options;
    TrustOptions trust;
    std::string problem;  // not empty when the command line is wrong
};

CommandLine Parse(int argc, char** argv) {
    CommandLine line;
    if (argc < 2) {
        line.problem = "commande manquante";
        return line;
    }
    line.command = argv[1];
    const std::string& command = line.command;
    if (command != "install" && command != "uninstall" && command != "status" &&
        command != "trust" && command != "untrust") {
        line.problem = "commande inconnue : " + command;
        return line;
    }
    const bool installing = command == "install";
    const bool trusting = command == "trust" || command == "untrust";
    for (int i = 2; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--all-accounts" && installing && !line.options.allAccounts) {
            line.options.allAccounts = true;
            continue;
        }
        const bool aboutTrust = trusting || command == "status";
        if (option == "--user" && aboutTrust && !line.trust.userOnly &&
            line.options.program.empty()) {
            line.trust.userOnly = true;
            continue;
        }
        const bool known = (option == "--program" && !trusting && !line.trust.userOnly) ||
                           (option == "--data-home" && aboutTrust && line.trust.dataHome.empty()) ||
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
        if (option == "--data-home") {
            if (value.empty() || value.front() != '/') {
                line.problem = "--data-home attend un chemin absolu : " + value;
                return line;
            }
            line.trust.dataHome = value;
        } else if (option == "--program") {
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
    if (::geteuid() != 0 && !line.trust.userOnly) {
        std::cerr << "gx-driver : cette commande doit être lancée en tant qu'administrateur "
                     "(root), par exemple : sudo gx-driver "
                  << line.command
                  << (line.command == "install" || line.command == "uninstall"
                          ? ""
                          : " (ou gx-driver " + line.command +
                                " --user pour vos seuls navigateurs)")
                  << "\n";
        return kDriverNotRoot;
    }
    if (line.command == "trust") {
        return TrustRoot(line.trust);
    }
    if (line.command == "untrust") {
        return UntrustRoot(line.trust);
    }
    if (line.command == "status" && line.trust.userOnly) {
        return ShowTrustStatus(line.trust) ? kDriverOk : kDriverFailed;
    }
    if (line.command == "install") {
        return InstallDriver(line.options);
    }
    if (line.command == "uninstall") {
        return UninstallDriver(line.options);
    }
    const int status = ShowDriverStatus(line.options);
    std::cout << "\nHTTPS\n";
    ShowTrustStatus(line.trust);
    return status;
}
