// gx_restart: installs a downloaded build and starts the program again.
//
// The program downloads "gxsoft.dat" into the user's temporary folder, starts this program
// without arguments in the program directory and ends. Whatever was downloaded came over plain
// HTTP, so nothing of it is believed: the build is installed only when it is signed by the key
// beside the program (gx_update.pub), newer than this build, and every path in it stays inside
// the program directory. Then:
//
//   1. wait (at most 30 s) for the program to end: it holds the single-instance lock until then;
//   2. read and check the build file, before anything is written;
//   3. unpack it into a new folder beside the program directory, swap the two by renames (the
//      old one stays as "<dir>.previous", the one rollback) and start the new program;
//   4. if it does not come up (ends within a few seconds, or never takes the lock), swap back
//      and start the old one.
//
// A refused update changes nothing and starts the installed program again. Every run leaves one
// line in gx_restart.log beside the registry hive. Exit status 0 when a new build runs.
#include <unistd.h>

#include <chrono>
#include <string>

#include "BuildInstall.h"
#include "InstanceWatch.h"
#include "RestartReport.h"
#include "platform/program/GX_COM.h"
#include "update/BuildFile.h"
#include "update/UpdateFiles.h"
#include "update/UpdateProtocol.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kProgramEndLimit = 30s;
constexpr auto kComeUpSettle = 5s;
constexpr auto kComeUpLimit = 30s;

std::string ProgramName() {
    return std::string(gx::kMainProgramName) + gx::kExecutableSuffix;
}

// Refuses the update: the installed program starts again, the user is told why.
int Refuse(const std::string& reason, gx::HeldInstanceLock& lock) {
    gx::LogLine("mise à jour refusée : " + reason);
    lock.Release();
    gx::StartProgram(gx::ProgramDir(), ProgramName());
    gx::TellUser("La mise à jour de Gardalix n'a pas été installée : " + reason +
                 ".\nGardalix a été redémarré dans sa version " + gx::kRunningBuild + ".");
    return 1;
}

std::string ReadPublicKey() {
    const std::optional<std::string> key =
        gx::ReadBuildFile(gx::ProgramDir() + gx::kUpdatePublicKeyName);
    return key ? *key : std::string();
}

}  // namespace

int main() {
    const std::string programDir = gx::ProgramDir();  // fixed before anything moves
    const gx::InstallPaths paths = gx::PathsOf(programDir);
    const std::string lockPath = gx::InstanceLockPath();

    gx::HeldInstanceLock lock = gx::HeldInstanceLock::WaitForProgramEnd(lockPath, kProgramEndLimit);
    if (!lock.Held() && gx::SomeoneHoldsLock(lockPath)) {
        gx::LogLine(
            "Gardalix ne s'est pas arrêté dans les 30 secondes : mise à jour non installée");
        return 1;
    }

    const std::string tempDir = gx::GetTempDirectory();
    const std::string buildPath = tempDir + gx::kDownloadFileName;
    const std::optional<std::string> bytes =
        tempDir == gx::kNoTempDirectory ? std::nullopt : gx::ReadBuildFile(buildPath);
    if (!bytes) {
        return Refuse("aucun fichier de mise à jour lisible (" + buildPath + ")", lock);
    }
    const std::string publicKey = ReadPublicKey();
    if (publicKey.empty()) {
        return Refuse(std::string("la clé ") + gx::kUpdatePublicKeyName + " est absente", lock);
    }
    const gx::CheckedBuild build = gx::CheckBuildFile(*bytes, publicKey);
    if (build.fault != gx::BuildFault::None) {
        return Refuse(gx::DescribeFault(build.fault), lock);
    }
    const std::string& version = build.header.buildVersion;
    if (gx::CompareBuildVersions(version, gx::kRunningBuild) <= 0) {
        return Refuse("la version " + version +
                          " n'est pas plus récente que la version installée " + gx::kRunningBuild,
                      lock);
    }
    if (!gx::CanReplace(paths)) {
        return Refuse("le dossier du programme " + paths.programDir +
                          " ne peut pas être modifié par cet utilisateur (installation pour toute "
                          "la machine) ; demandez à l'administrateur d'installer la version " +
                          version,
                      lock);
    }

    const std::optional<std::string> unpacked = gx::UnpackBeside(paths, build.entries);
    if (!unpacked) {
        return Refuse("impossible d'écrire la nouvelle version à côté de " + paths.programDir,
                      lock);
    }
    if (!gx::SwapIn(paths, *unpacked)) {
        gx::RemoveTree(*unpacked);
        return Refuse("impossible de remplacer le dossier " + paths.programDir, lock);
    }

    lock.Release();
    const pid_t started = gx::StartProgram(programDir, ProgramName());
    if (gx::CameUp(started, lockPath, kComeUpSettle, kComeUpLimit)) {
        ::unlink(buildPath.c_str());
        gx::LogLine("version " + version + " installée dans " + paths.programDir +
                    " (remplace la version " + gx::kRunningBuild + ")");
        return 0;
    }
    gx::StopProgram(started);
    const bool back = gx::SwapBack(paths);
    gx::StartProgram(programDir, ProgramName());
    const std::string told =
        back ? "la version " + std::string(gx::kRunningBuild) + " a été rétablie"
             : "le retour à la version " + std::string(gx::kRunningBuild) + " a échoué";
    gx::LogLine("la version " + version + " n'a pas démarré ; " + told);
    gx::TellUser("La nouvelle version " + version + " de Gardalix n'a pas démarré ; " + told + ".");
    return 1;
}
