// The Debian package, made from this build as `./gx package` makes it: its files and control
// fields, lintian's verdict, its maintainer scripts run against a temporary root, and the
// unpacked program blocking a listed address through its proxy.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "console/ConsoleTexts.h"
#include "lists/ProductSite.h"
#include "support/RunCommand.h"
#include "support/TempFolder.h"

namespace gx {
namespace {

namespace fs = std::filesystem;
using testing::CommandRun;
using testing::RunCommand;
using testing::TempFolder;

const std::string kDebName = std::string("gardalix_") + GX_VERSION + "_amd64.deb";
const std::string kLibDir = "usr/lib/gardalix";

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text, fs::perms perms) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, perms);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// One entry of `dpkg-deb -c`: "-rwxr-xr-x root/root 1234 2024-02-07 12:00 ./path[ -> target]".
struct PackagedFile {
    std::string mode;
    std::string owner;
    std::string linkTarget;
};

std::map<std::string, PackagedFile> ParseContents(const std::string& listing) {
    std::map<std::string, PackagedFile> files;
    for (const std::string& line : Lines(listing)) {
        std::istringstream fields(line);
        PackagedFile file;
        std::string size, date, time, path, arrow;
        fields >> file.mode >> file.owner >> size >> date >> time >> path >> arrow >>
            file.linkTarget;
        if (path.rfind("./", 0) == 0) {
            path.erase(0, 2);
        }
        if (!path.empty() && path.back() == '/') {
            path.pop_back();
        }
        files[path] = file;
    }
    return files;
}

// The package is made by the test package.make, which CTest runs before these; each test
// unpacks it into a folder of its own.
class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::is_regular_file(deb_)) << deb_ << " is missing: run the test package.make";
        const CommandRun unpacked =
            RunCommand("dpkg-deb -x " + Quoted(deb_) + " " + Quoted(root_) + " && dpkg-deb -e " +
                       Quoted(deb_) + " " + Quoted(control_));
        ASSERT_EQ(unpacked.status, 0) << unpacked.output;
    }

    std::string Field(const std::string& name) {
        const CommandRun run = RunCommand("dpkg-deb -f " + Quoted(deb_) + " " + name);
        std::string value = run.output;
        while (!value.empty() && value.back() == '\n') {
            value.pop_back();
        }
        return value;
    }

    TempFolder folder_;
    const std::string deb_ = GX_PACKAGE_DIR "/" + kDebName;
    const std::string root_ = folder_.File("root");
    const std::string control_ = folder_.File("control");
};

TEST_F(PackageTest, VersionIsTheAboutBoxVersion) {
    EXPECT_EQ(Field("Version"), GX_VERSION);
    EXPECT_EQ(std::string(text::kVersion).rfind(std::string("Version ") + GX_VERSION + " du ", 0),
              0u)
        << text::kVersion;
}

TEST_F(PackageTest, ControlFieldsNameWhatTheProgramsNeed) {
    struct Case {
        const char* field;
        const char* expected;  // found in the field's value
    };
    const Case cases[] = {
        {"Package", "gardalix"},
        {"Architecture", "amd64"},
        {"Maintainer", "Gardalix <"},
        {"Section", "net"},
        {"Depends", "libc6"},           // computed from the programs
        {"Depends", "libqt6widgets6"},  // computed from the programs
        {"Depends", "libcap2 "},        // computed from gx-driver
        {"Depends", "nftables"},
        {"Depends", "libcap2-bin"},
        {"Recommends", "libnss3-tools"},
        {"Description", "protection contre les sites malveillants"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + ": " + c.expected);
        EXPECT_NE(Field(c.field).find(c.expected), std::string::npos) << Field(c.field);
    }
}

TEST_F(PackageTest, HoldsTheProgramDirectoryTheLinksTheMenuAndTheDocumentation) {
    const CommandRun listing = RunCommand("dpkg-deb -c " + Quoted(deb_));
    ASSERT_EQ(listing.status, 0) << listing.output;
    const auto files = ParseContents(listing.output);

    struct Case {
        std::string path;
        std::string mode;        // empty: any
        std::string linkTarget;  // empty: not a link
    };
    std::vector<Case> cases = {
        {kLibDir + "/gardalix", "-rwxr-xr-x", ""},
        {kLibDir + "/gx-driver", "-rwxr-xr-x", ""},
        {kLibDir + "/gx-get", "-rwxr-xr-x", ""},
        {kLibDir + "/gx-lists", "-rwxr-xr-x", ""},
        {kLibDir + "/gx-reg", "-rwxr-xr-x", ""},
        {kLibDir + "/gx-publish", "-rwxr-xr-x", ""},
        {kLibDir + "/gx_restart", "-rwxr-xr-x", ""},
        {kLibDir + "/gardalix-service", "-rwxr-xr-x", ""},
        {"lib/systemd/system/gardalix.service", "-rw-r--r--", ""},
        {"usr/lib/sysusers.d/gardalix.conf", "-rw-r--r--", ""},
        {"usr/share/polkit-1/actions/fr.gardalix.manage.policy", "-rw-r--r--", ""},
        {kLibDir + "/gx_update.pub", "-rw-r--r--", ""},
        {kLibDir + "/gx_mu.dat", "-rw-r--r--", ""},
        {kLibDir + "/gx_pu.dat", "-rw-r--r--", ""},
        {kLibDir + "/help/gardalix-1.html", "-rw-r--r--", ""},
        {"usr/bin/gardalix", "", "../lib/gardalix/gardalix"},
        {"usr/bin/gx-driver", "", "../lib/gardalix/gx-driver"},
        {"usr/bin/gx-get", "", "../lib/gardalix/gx-get"},
        {"usr/bin/gx-lists", "", "../lib/gardalix/gx-lists"},
        {"usr/bin/gx-reg", "", "../lib/gardalix/gx-reg"},
        {"usr/bin/gx-publish", "", "../lib/gardalix/gx-publish"},
        {"usr/share/applications/gardalix.desktop", "-rw-r--r--", ""},
        {"etc/xdg/autostart/gardalix.desktop", "", "/usr/share/applications/gardalix.desktop"},
        {"usr/share/icons/hicolor/scalable/apps/gardalix.svg", "-rw-r--r--", ""},
        {"usr/share/doc/gardalix/copyright", "-rw-r--r--", ""},
        {"usr/share/doc/gardalix/changelog.gz", "-rw-r--r--", ""},
    };
    for (const char* command :
         {"gardalix", "gx-driver", "gx-get", "gx-lists", "gx-reg", "gx-publish", "gx-control"}) {
        cases.push_back({std::string("usr/share/man/man1/") + command + ".1.gz", "-rw-r--r--", ""});
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string dir = std::to_string(size) + "x" + std::to_string(size);
        cases.push_back(
            {"usr/share/icons/hicolor/" + dir + "/apps/gardalix.png", "-rw-r--r--", ""});
    }
    // Whatever the build puts beside the program is installed beside it too.
    for (const auto& entry : fs::recursive_directory_iterator(GX_PROGRAM_DIR)) {
        const std::string relative = fs::relative(entry.path(), GX_PROGRAM_DIR).string();
        if (entry.is_regular_file() && relative != "gx-screenshots") {
            cases.push_back({kLibDir + "/" + relative, "", ""});
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto found = files.find(c.path);
        ASSERT_NE(found, files.end());
        EXPECT_EQ(found->second.owner, "root/root");
        if (!c.mode.empty()) {
            EXPECT_EQ(found->second.mode, c.mode);
        }
        EXPECT_EQ(found->second.linkTarget, c.linkTarget);
    }

    // No hive, no developer tool, no private key; the restart program is not a command.
    for (const auto& [path, file] : files) {
        SCOPED_TRACE(path);
        EXPECT_NE(path.rfind("var", 0), 0u);
        EXPECT_EQ(path.find("gx-screenshots"), std::string::npos);
        EXPECT_EQ(path.find(".key"), std::string::npos);
        EXPECT_NE(path, "usr/bin/gx_restart");
        EXPECT_NE(path, "usr/bin/gardalix-service") << "the system starts it, not a user";
    }
}

// The service's unit as systemd reads it, on the unpacked package (where its program exists).
TEST_F(PackageTest, TheServiceUnitVerifiesAndKeepsToOneCapability) {
    if (RunCommand("command -v systemd-analyze").status != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    const std::string unit = ReadFile(fs::path(root_) / "lib/systemd/system/gardalix.service");
    for (const char* line :
         {"User=gardalix", "AmbientCapabilities=CAP_NET_ADMIN",
          "CapabilityBoundingSet=CAP_NET_ADMIN", "NoNewPrivileges=yes", "ProtectSystem=strict",
          "ProtectHome=yes", "StateDirectory=gardalix", "RuntimeDirectory=gardalix",
          "ExecStart=/usr/lib/gardalix/gardalix-service", "WantedBy=multi-user.target"}) {
        EXPECT_NE(unit.find(std::string(line) + "\n"), std::string::npos) << line;
    }
    // Verified among this machine's units, its program the unpacked one.
    TempFolder copy;
    std::string here = unit;
    const std::string program = "ExecStart=/usr/lib/gardalix/gardalix-service";
    here.replace(here.find(program), program.size(),
                 "ExecStart=" + root_ + "/usr/lib/gardalix/gardalix-service");
    WriteFile(copy.Path() / "gardalix.service", here,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    const CommandRun verify =
        RunCommand("systemd-analyze verify --man=no " + Quoted(copy.File("gardalix.service")));
    EXPECT_EQ(verify.status, 0) << verify.output;
}

// A PNG's width and height, from its header chunk.
std::pair<int, int> PngSize(const fs::path& path) {
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) {
        return {0, 0};
    }
    auto number = [&](size_t at) {
        int value = 0;
        for (size_t i = at; i < at + 4; ++i) {
            value = value * 256 + static_cast<unsigned char>(bytes[i]);
        }
        return value;
    };
    return {number(16), number(20)};
}

TEST_F(PackageTest, IconsAreRenderedAtTheSizeOfTheirFolder) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const std::string dir = std::to_string(size) + "x" + std::to_string(size);
        const auto [width, height] =
            PngSize(fs::path(root_) / "usr/share/icons/hicolor" / dir / "apps/gardalix.png");
        EXPECT_EQ(width, size);
        EXPECT_EQ(height, size);
    }
}

TEST_F(PackageTest, MenuEntryAndCopyrightSayWhatTheyMust) {
    const std::string entry = ReadFile(fs::path(root_) / "usr/share/applications/gardalix.desktop");
    for (const char* line : {"Type=Application", "Name=Gardalix", "Exec=gardalix", "Icon=gardalix",
                             "Comment=Bloque les sites d'arnaque, d'hameçonnage et de logiciels "
                             "malveillants"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(entry.find(std::string(line) + "\n"), std::string::npos) << entry;
    }
    const std::string copyright = ReadFile(fs::path(root_) / "usr/share/doc/gardalix/copyright");
    for (const char* text :
         {"License: CC0-1.0\n", "Files: data/malware.txt\n", " Statement of Purpose\n", "\n .\n"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(copyright.find(text), std::string::npos);
    }
}

TEST_F(PackageTest, LintianFindsNoErrorAndNoWarning) {
    const CommandRun run =
        RunCommand("timeout 900 lintian --allow-root --fail-on error,warning " + Quoted(deb_));
    EXPECT_EQ(run.status, 0) << run.output;
    for (const std::string& line : Lines(run.output)) {
        EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
        EXPECT_NE(line.rfind("W: ", 0), 0u) << line;
    }
}

// The maintainer scripts as shipped, run with dpkg's DPKG_ROOT on a temporary root that holds a
// stand-in gx-driver, and stand-ins on the PATH for setcap and the system's service commands
// (systemd-sysusers, deb-systemd-helper, deb-systemd-invoke, systemctl); all write their command
// lines to a log. With `systemdRunning`, the root has run/systemd/system, as a machine where
// systemd runs.
class MaintainerScriptTest : public PackageTest {
  protected:
    struct Run {
        CommandRun script;
        std::vector<std::string> calls;
        bool driverFolderLeft = false;  // etc/gardalix still on the root
    };

    // driverBody: the stand-in gx-driver after its logging line (empty: no gx-driver on the
    // root); driverConf: the content of etc/gardalix/driver.conf (empty: no file).
    Run RunScript(const std::string& name, const std::string& arguments,
                  const std::string& driverBody, const std::string& driverConf,
                  bool systemdRunning = false) {
        TempFolder scratch;
        const fs::path root = scratch.Path() / "root";
        const std::string log = scratch.File("calls.log");
        fs::create_directories(root);
        if (!driverBody.empty()) {
            WriteFile(root / kLibDir / "gx-driver",
                      "#!/bin/sh\necho \"gx-driver $*\" >> " + Quoted(log) + "\n" + driverBody,
                      fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        }
        if (!driverConf.empty()) {
            WriteFile(root / "etc/gardalix/driver.conf", driverConf,
                      fs::perms::owner_read | fs::perms::owner_write);
        }
        for (const char* command : {"setcap", "systemd-sysusers", "deb-systemd-helper",
                                    "deb-systemd-invoke", "systemctl"}) {
            WriteFile(
                scratch.Path() / "bin" / command,
                std::string("#!/bin/sh\necho \"") + command + " $*\" >> " + Quoted(log) + "\n",
                fs::perms::owner_all);
        }
        if (systemdRunning) {
            fs::create_directories(root / "run/systemd/system");
        }
        Run run;
        run.script = RunCommand("DPKG_ROOT=" + Quoted(root.string()) +
                                " PATH=" + Quoted(scratch.File("bin")) + ":\"$PATH\" sh " +
                                Quoted(control_ + "/" + name) + " " + arguments);
        for (std::string line : Lines(ReadFile(log))) {
            const size_t at = line.find(root.string());
            if (at != std::string::npos) {
                line.replace(at, root.string().size(), "ROOT");
            }
            run.calls.push_back(line);
        }
        run.driverFolderLeft = fs::exists(root / "etc/gardalix");
        return run;
    }
};

TEST_F(MaintainerScriptTest, ScriptsAreExecutableAndParse) {
    for (const char* name : {"prerm", "postinst", "postrm"}) {
        SCOPED_TRACE(name);
        const fs::path script = fs::path(control_) / name;
        ASSERT_TRUE(fs::is_regular_file(script));
        EXPECT_EQ(fs::status(script).permissions() & fs::perms::all,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec);
        const CommandRun run = RunCommand("sh -n " + Quoted(script.string()));
        EXPECT_EQ(run.status, 0) << run.output;
    }
}

TEST_F(MaintainerScriptTest, PrermUndoesTheTransparentModeAndTheTrustAndNeverStopsARemoval) {
    // Transparent mode is installed on the root; a working gx-driver removes its file.
    const std::string installed =
        "transparent_port=3130\nfirewall_mark=0x4758\n"
        "program=/usr/lib/gardalix/gardalix\n";
    const std::string removesItsFile =
        "[ \"$1\" = uninstall ] && rm -f \"$DPKG_ROOT/etc/gardalix/driver.conf\"\n";
    const std::string knowsUntrust = removesItsFile + "exit 0\n";
    const std::string olderDriver =
        removesItsFile +
        "[ \"$1\" = untrust ] && { echo 'gx-driver : commande inconnue : untrust' >&2; exit 2; }\n"
        "exit 0\n";
    const std::string failingDriver = "echo 'nft: No such file or directory' >&2\nexit 1\n";
    const std::vector<std::string> bothUndone = {"gx-driver uninstall", "gx-driver untrust"};
    struct Case {
        const char* name;
        const char* arguments;
        std::string driver;
        std::vector<std::string> calls;
        const char* shown;  // in the output; empty: no warning is shown
        bool driverFolderLeft;
    };
    const Case cases[] = {
        {"remove", "remove", knowsUntrust, bothUndone, "", false},
        {"remove, older gx-driver", "remove", olderDriver, bothUndone, "", false},
        {"remove, nftables failing", "remove", failingDriver, bothUndone,
         "nft delete table inet gardalix", true},
        {"remove, gx-driver missing", "remove", "", {}, "", true},
        {"upgrade keeps the user's choices", "upgrade 1.4.0", knowsUntrust, {}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Run run = RunScript("prerm", c.arguments, c.driver, installed);
        EXPECT_EQ(run.script.status, 0) << run.script.output;
        EXPECT_EQ(run.calls, c.calls);
        if (*c.shown) {
            EXPECT_NE(run.script.output.find(c.shown), std::string::npos) << run.script.output;
        } else {
            EXPECT_EQ(run.script.output.find("gardalix :"), std::string::npos) << run.script.output;
        }
        EXPECT_EQ(run.driverFolderLeft, c.driverFolderLeft);
    }
}

// What the service needs on every configuration: its user, its unit enabled.
const std::vector<std::string> kServiceSetUp = {
    "systemd-sysusers --root=ROOT gardalix.conf",
    "deb-systemd-helper unmask gardalix.service",
    "deb-systemd-helper --quiet was-enabled gardalix.service",
    "deb-systemd-helper enable gardalix.service",
};

std::vector<std::string> ServiceSetUpThen(const std::vector<std::string>& more) {
    std::vector<std::string> calls = kServiceSetUp;
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

TEST_F(MaintainerScriptTest, PostinstSetsUpTheServiceAndKeepsTheAdministratorsChoices) {
    const std::string installed =
        "transparent_port=3130\nfirewall_mark=0x4758\n"
        "program = /usr/lib/gardalix/gardalix\n";
    const std::string otherProgram =
        "transparent_port=3130\nfirewall_mark=0x4758\n"
        "program=/opt/other/gardalix\n";
    struct Case {
        const char* name;
        const char* arguments;
        std::string driverConf;
        std::vector<std::string> calls;
        const char* line;  // the one line shown
    };
    const Case cases[] = {
        {"first installation: every account through the service", "configure ''", "",
         ServiceSetUpThen({"gx-driver install --all-accounts --program "
                           "/usr/lib/gardalix/gardalix-service"}),
         "protège tous les comptes"},
        {"upgrade in proxy mode", "configure 1.4.0", "", kServiceSetUp,
         "« sudo gx-driver install »"},
        {"upgrade in transparent mode", "configure 1.4.0", installed,
         ServiceSetUpThen({"setcap cap_net_admin+p ROOT/usr/lib/gardalix/gardalix"}),
         "reste installé"},
        {"upgrade, transparent mode of another program", "configure 1.4.0", otherProgram,
         kServiceSetUp, "« sudo gx-driver install »"},
        {"first installation over an old configuration: kept", "configure ''", installed,
         kServiceSetUp, "« sudo gx-driver install »"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Run run = RunScript("postinst", c.arguments, "exit 0\n", c.driverConf);
        EXPECT_EQ(run.script.status, 0) << run.script.output;
        EXPECT_EQ(run.calls, c.calls);
        const auto lines = Lines(run.script.output);
        ASSERT_EQ(lines.size(), 1u) << run.script.output;
        EXPECT_EQ(lines[0].rfind("Gardalix : ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.line), std::string::npos) << lines[0];
    }
}

// Where systemd runs, the service starts on a first installation and restarts on an upgrade,
// and stops before a removal.
TEST_F(MaintainerScriptTest, WhereSystemdRunsTheServiceIsStartedAndStopped) {
    struct Case {
        const char* name;
        const char* script;
        const char* arguments;
        std::vector<std::string> calls;  // those of the service, in order
    };
    const Case cases[] = {
        {"first installation", "postinst", "configure ''",
         ServiceSetUpThen(
             {"systemctl --system daemon-reload", "deb-systemd-invoke start gardalix.service"})},
        {"upgrade", "postinst", "configure 1.4.0",
         ServiceSetUpThen(
             {"systemctl --system daemon-reload", "deb-systemd-invoke restart gardalix.service"})},
        {"removal", "prerm", "remove", {"deb-systemd-invoke stop gardalix.service"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Run run = RunScript(c.script, c.arguments, "exit 0\n", "", true);
        EXPECT_EQ(run.script.status, 0) << run.script.output;
        std::vector<std::string> service;
        for (const std::string& call : run.calls) {
            if (call.rfind("gx-driver", 0) != 0) {
                service.push_back(call);
            }
        }
        EXPECT_EQ(service, c.calls);
    }
}

// A purge forgets the unit and every account's settings and history; a removal keeps them and
// masks the unit.
TEST_F(MaintainerScriptTest, PostrmMasksOnRemovalAndPurgesTheServicesState) {
    struct Case {
        const char* arguments;
        std::vector<std::string> calls;
        bool stateLeft;
    };
    const Case cases[] = {
        {"remove", {"deb-systemd-helper mask gardalix.service"}, true},
        {"purge",
         {"deb-systemd-helper purge gardalix.service",
          "deb-systemd-helper unmask gardalix.service"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        TempFolder scratch;
        const fs::path root = scratch.Path() / "root";
        WriteFile(root / "var/lib/gardalix/accounts/1001/history", "x\n",
                  fs::perms::owner_read | fs::perms::owner_write);
        const std::string log = scratch.File("calls.log");
        WriteFile(scratch.Path() / "bin/deb-systemd-helper",
                  "#!/bin/sh\necho \"deb-systemd-helper $*\" >> " + Quoted(log) + "\n",
                  fs::perms::owner_all);
        const CommandRun run = RunCommand(
            "DPKG_ROOT=" + Quoted(root.string()) + " PATH=" + Quoted(scratch.File("bin")) +
            ":\"$PATH\" sh " + Quoted(control_ + "/postrm") + " " + c.arguments);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(Lines(ReadFile(log)), c.calls);
        EXPECT_EQ(fs::exists(root / "var/lib/gardalix"), c.stateLeft);
    }
}

// The unpacked program, started through its link in usr/bin without a display, on a hive and a
// runtime folder of the test's own, with a proxy on a port that the kernel picks. It finds its
// lists only if its program directory resolves the link to usr/lib/gardalix.
TEST_F(PackageTest, UnpackedProgramBlocksAListedAddress) {
    TempFolder home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("HOME", QString::fromStdString(home.Path().string()));
    env.insert("XDG_DATA_HOME", QString::fromStdString(home.File("data")));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.Path().string()));
    env.insert("GARDALIX_REGISTRY", QString::fromStdString(home.File("registry.db")));
    env.insert("GARDALIX_DRIVER_CONF", QString::fromStdString(home.File("no-driver.conf")));
    env.insert("GARDALIX_PROXY", "127.0.0.1:0");
    QProcess gardalix;
    gardalix.setProcessEnvironment(env);
    gardalix.start(QString::fromStdString(root_ + "/usr/bin/gardalix"), {});
    ASSERT_TRUE(gardalix.waitForStarted(30000));

    // The notice that the program writes once its protection runs names the proxy's port.
    const QRegularExpression notice(QStringLiteral("le proxy écoute sur [0-9.]+:([0-9]+)"));
    QString seen;
    int port = 0;
    QElapsedTimer clock;
    clock.start();
    while (port == 0 && clock.elapsed() < 60000 && gardalix.state() == QProcess::Running) {
        gardalix.waitForReadyRead(250);
        seen += QString::fromUtf8(gardalix.readAllStandardError());
        if (const auto match = notice.match(seen); match.hasMatch()) {
            port = match.captured(1).toInt();
        }
    }
    ASSERT_NE(port, 0) << "stderr: " << seen.toStdString();

    const CommandRun curl =
        RunCommand("curl --silent --include --max-time 60 --noproxy '' --proxy http://127.0.0.1:" +
                   std::to_string(port) + " http://" + kTestPageAddress);
    EXPECT_EQ(curl.output.rfind("HTTP/1.1 404 Not OK", 0), 0u) << curl.output;
    EXPECT_NE(curl.output.find("Gardalix"), std::string::npos) << curl.output;
    EXPECT_EQ(gardalix.state(), QProcess::Running);

    gardalix.terminate();
    if (!gardalix.waitForFinished(30000)) {
        gardalix.kill();
        gardalix.waitForFinished(30000);
    }
}

}  // namespace
}  // namespace gx
