#include "tools/gx-driver/FileCapability.h"

#include <sys/capability.h>

#include <cerrno>
#include <cstring>

namespace gx {

bool GrantNetAdmin(const std::string& path, std::string* error) {
    cap_t caps = cap_init();
    const cap_value_t netAdmin[] = {CAP_NET_ADMIN};
    bool ok = caps && cap_set_flag(caps, CAP_PERMITTED, 1, netAdmin, CAP_SET) == 0 &&
              cap_set_file(path.c_str(), caps) == 0;
    if (!ok) {
        *error = "impossible de donner cap_net_admin à " + path + " : " + std::strerror(errno);
    }
    if (caps) {
        cap_free(caps);
    }
    return ok;
}

bool RemoveCapabilities(const std::string& path, std::string* error) {
    if (cap_set_file(path.c_str(), nullptr) == 0 || errno == ENODATA || errno == ENOENT) {
        return true;
    }
    *error = "impossible de retirer les capacités de " + path + " : " + std::strerror(errno);
    return false;
}

bool HasNetAdmin(const std::string& path) {
    cap_t caps = cap_get_file(path.c_str());
    if (!caps) {
        return false;
    }
    cap_flag_value_t value = CAP_CLEAR;
    const bool has =
        cap_get_flag(caps, CAP_NET_ADMIN, CAP_PERMITTED, &value) == 0 && value == CAP_SET;
    cap_free(caps);
    return has;
}

}  // namespace gx
