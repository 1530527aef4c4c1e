// gx-driver: installs, removes and reports the interception driver of this platform, run as
// root by the administrator:
//   gx-driver install [--ports LIST] [--listen-port PORT] [--program FILE] [--conf FILE]
//   gx-driver uninstall [--conf FILE]
//   gx-driver status [--conf FILE]
// install creates the nftables table (NftRules.h), records the listener port and the mark in
// the driver file that the library reads, and grants the program cap_net_admin as a permitted
// capability only, so that the library can mark its own sockets and nothing else runs with it.
#include <sys/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "console/GX_COM.h"
#include "platform/interception/DriverConfig.h"
#include "tools/gx-driver/NftRules.h"

namespace {

using gx::interception::DriverConfig;

struct Options {
    std::string command;
    std::string conf = gx::interception::DriverConfigPath();
    std::string program = gx::ProgramDir() + "gardalix";
    std::vector<uint16_t> ports;
    uint16_t listenPort = gx::interception::kDefaultTransparentPort;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: gx-driver install [--ports 80,8080] [--listen-port PORT] "
                 "[--program FILE] [--conf FILE]\n"
                 "       gx-driver uninstall [--conf FILE]\n"
                 "       gx-driver status [--conf FILE]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    if (argc < 2) {
        return false;
    }
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        std::string value = argv[++i];
        if (name == "--ports") {
            if (!gx::driver::ParsePortList(value, options.ports)) {
                std::fprintf(stderr, "gx-driver : liste de ports invalide : %s\n", value.c_str());
                return false;
            }
        } else if (name == "--listen-port") {
            std::vector<uint16_t> one;
            if (!gx::driver::ParsePortList(value, one) || one.size() != 1) {
                std::fprintf(stderr, "gx-driver : port d'écoute invalide : %s\n", value.c_str());
                return false;
            }
            options.listenPort = one[0];
        } else if (name == "--program") {
            options.program = value;
        } else if (name == "--conf") {
            options.conf = value;
        } else {
            return false;
        }
    }
    return true;
}

// Runs nft on a ruleset; its messages are passed on. True when nft succeeded.
bool RunNft(const std::string& ruleset, bool quiet = false) {
    char path[] = "/tmp/gx-driver-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    std::ofstream(path) << ruleset;
    std::string command = std::string("nft -f ") + path + (quiet ? " >/dev/null 2>&1" : "");
    int status = std::system(command.c_str());
    std::remove(path);
    return status == 0;
}

bool TableInstalled() {
    return std::system("nft list table inet gardalix >/dev/null 2>&1") == 0;
}

bool SetProgramCapability(const std::string& program, bool grant) {
    cap_t caps = grant ? cap_from_text("cap_net_admin+p") : nullptr;
    if (grant && !caps) {
        return false;
    }
    int result = cap_set_file(program.c_str(), caps);
    if (caps) {
        cap_free(caps);
    }
    return result == 0 || (!grant && errno == ENODATA);
}

std::string ProgramCapability(const std::string& program) {
    cap_t caps = cap_get_file(program.c_str());
    if (!caps) {
        return {};
    }
    char* text = cap_to_text(caps, nullptr);
    std::string result = text ? text : "";
    cap_free(text);
    cap_free(caps);
    return result;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

int Install(const Options& options) {
    DriverConfig config;
    config.port = options.listenPort;
    config.mark = gx::interception::kDefaultMark;
    gx::driver::RedirectSettings settings{config.port, config.mark, options.ports};
    if (!RunNft(gx::driver::RedirectRuleset(settings))) {
        std::fprintf(stderr, "gx-driver : la table nftables n'a pas pu être installée.\n");
        return 1;
    }
    struct stat info {};
    if (::stat(options.program.c_str(), &info) == 0) {
        if (!SetProgramCapability(options.program, true)) {
            std::fprintf(stderr, "gx-driver : impossible de donner cap_net_admin à %s : %s\n",
                         options.program.c_str(), std::strerror(errno));
            RunNft(gx::driver::DeleteRuleset(), true);
            return 1;
        }
        config.program = options.program;
    } else {
        std::fprintf(stderr,
                     "gx-driver : %s introuvable ; sans cap_net_admin, ce programme ne pourra "
                     "pas utiliser le mode transparent (relancer avec --program).\n",
                     options.program.c_str());
    }
    ::mkdir(FolderOf(options.conf).c_str(), 0755);
    if (!gx::interception::WriteDriverConfig(options.conf, config)) {
        std::fprintf(stderr, "gx-driver : impossible d'écrire %s : %s\n", options.conf.c_str(),
                     std::strerror(errno));
        RunNft(gx::driver::DeleteRuleset(), true);
        return 1;
    }
    std::printf("Redirection installée vers le port %u ; relancer Gardalix.\n", config.port);
    return 0;
}

int Uninstall(const Options& options) {
    bool ok = true;
    std::optional<DriverConfig> config = gx::interception::ReadDriverConfig(options.conf);
    std::string program = config && !config->program.empty() ? config->program : options.program;
    if (TableInstalled() && !RunNft(gx::driver::DeleteRuleset())) {
        std::fprintf(stderr, "gx-driver : la table nftables n'a pas pu être retirée.\n");
        ok = false;
    }
    struct stat info {};
    if (::stat(program.c_str(), &info) == 0 && !SetProgramCapability(program, false)) {
        std::fprintf(stderr, "gx-driver : impossible de retirer cap_net_admin de %s : %s\n",
                     program.c_str(), std::strerror(errno));
        ok = false;
    }
    if (std::remove(options.conf.c_str()) != 0 && errno != ENOENT) {
        std::fprintf(stderr, "gx-driver : impossible de supprimer %s : %s\n", options.conf.c_str(),
                     std::strerror(errno));
        ok = false;
    }
    if (options.conf == gx::interception::kDriverConfigPath) {
        ::rmdir(FolderOf(options.conf).c_str());  // only when empty
    }
    if (ok) {
        std::printf("Redirection retirée.\n");
    }
    return ok ? 0 : 1;
}

// Exit status 0 when all of it is installed.
int Status(const Options& options) {
    bool table = TableInstalled();
    std::string error;
    std::optional<DriverConfig> config = gx::interception::ReadDriverConfig(options.conf, &error);
    std::printf("table nftables inet gardalix : %s\n", table ? "installée" : "absente");
    if (config) {
        std::printf("fichier %s : port %u, marque 0x%x\n", options.conf.c_str(), config->port,
                    config->mark);
    } else {
        std::printf("fichier %s : %s\n", options.conf.c_str(),
                    error.empty() ? "absent" : error.c_str());
    }
    std::string program = config && !config->program.empty() ? config->program : options.program;
    std::string capability = ProgramCapability(program);
    bool granted = capability.find("cap_net_admin") != std::string::npos;
    std::printf("programme %s : %s\n", program.c_str(),
                granted ? capability.c_str() : "sans cap_net_admin");
    return table && config && granted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return Usage();
    }
    bool known = options.command == "install" || options.command == "uninstall" ||
                 options.command == "status";
    if (!known) {
        return Usage();
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "gx-driver : à lancer en root (sudo gx-driver %s).\n",
                     options.command.c_str());
        return 1;
    }
    if (options.command == "install") {
        return Install(options);
    }
    if (options.command == "uninstall") {
        return Uninstall(options);
    }
    return Status(options);
}
