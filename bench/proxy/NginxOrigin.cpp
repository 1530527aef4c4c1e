#include "bench/proxy/NginxOrigin.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace gx::bench {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

// A port nobody listens on now (the kernel's choice); nginx binds it right after.
uint16_t FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

bool Accepts(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string Configuration(const std::string& folder, uint16_t port, const NginxSite& site) {
    std::ostringstream text;
    text << "daemon off;\n"
         << "worker_processes 1;\n"
         << "pid " << folder << "/nginx.pid;\n"
         << "error_log " << folder << "/error.log warn;\n";
    if (::geteuid() == 0) {
        text << "user root root;\n";  // its workers would be nobody, who cannot read the folder
    }
    text << "events { worker_connections 4096; }\n"
         << "http {\n"
         << "  access_log off;\n"
         << "  client_body_temp_path " << folder << "/body;\n"
         << "  proxy_temp_path " << folder << "/proxy;\n"
         << "  fastcgi_temp_path " << folder << "/fastcgi;\n"
         << "  uwsgi_temp_path " << folder << "/uwsgi;\n"
         << "  scgi_temp_path " << folder << "/scgi;\n"
         << "  sendfile on;\n"
         << "  tcp_nodelay on;\n"
         << "  keepalive_requests 100000000;\n"
         << "  keepalive_timeout 60s;\n"
         << "  default_type application/octet-stream;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << (site.certificatePath.empty() ? "" : " ssl http2")
         << ";\n"
         << (site.certificatePath.empty()
                 ? std::string()
                 : "    ssl_certificate " + site.certificatePath + ";\n    ssl_certificate_key " +
                       site.keyPath + ";\n")
         << "    root " << folder << "/www;\n"
         << "    location / { }\n"
         << "  }\n"
         << "}\n";
    return text.str();
}

}  // namespace

NginxOrigin::NginxOrigin(NginxSite site) : site_(std::move(site)) {
    if (::access(kNginx, X_OK) != 0) {
        problem_ = "nginx is not installed (./gx setup installs nginx-light)";
        return;
    }
    if (!WriteFolder()) {
        return;
    }
    for (int attempt = 0; attempt < 3 && !Running(); ++attempt) {
        if (Launch() && !WaitUntilListening()) {
            Stop();
        }
    }
}

NginxOrigin::~NginxOrigin() {
    Stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool NginxOrigin::WriteFolder() {
    char name[] = "/tmp/gx-bench-nginx-XXXXXX";
    if (!::mkdtemp(name)) {
        problem_ = "no temporary folder for nginx";
        return false;
    }
    folder_ = name;
    std::filesystem::create_directories(folder_ + "/www");
    std::ofstream(folder_ + "/www/1k", std::ios::binary) << std::string(1024, 'g');
    std::ofstream(folder_ + "/www/1m", std::ios::binary) << std::string(1024 * 1024, 'g');
    for (const auto& [path, content] : site_.files) {
        const std::filesystem::path file = folder_ + "/www/" + path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    return true;
}

bool NginxOrigin::Launch() {
    port_ = FreeLoopbackPort();
    std::string configuration = folder_ + "/nginx.conf";
    std::ofstream(configuration, std::ios::trunc) << Configuration(folder_, port_, site_);
    std::string errorLog = folder_ + "/error.log";
    pid_t pid = ::fork();
    if (pid < 0) {
        problem_ = "cannot start nginx";
        return false;
    }
    if (pid == 0) {
        // nginx ends with the benchmark, however it ends, and never holds its output open.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(kNginx, kNginx, "-p", folder_.c_str(), "-c", configuration.c_str(), "-e",
                errorLog.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;
    return true;
}

bool NginxOrigin::WaitUntilListening() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ifstream log(folder_ + "/error.log");
            std::string line, last;
            while (std::getline(log, line)) {
                last = line;
            }
            problem_ = "nginx ended at start" + (last.empty() ? "" : ": " + last);
            return false;
        }
        if (Accepts(port_)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    problem_ = "nginx did not listen within 5 s";
    return false;
}

void NginxOrigin::Stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);  // fast shutdown of the master and its worker
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace gx::bench
