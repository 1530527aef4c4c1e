#include "engine/ConnectionPrograms.h"

#include <mutex>
#include <unordered_map>

namespace gx {
namespace {

std::mutex programsMutex;
std::unordered_map<ENDPOINT_ID, ConnectionProgram>& Programs() {
    static auto* programs = new std::unordered_map<ENDPOINT_ID, ConnectionProgram>;
    return *programs;  // never destroyed: worker threads may still ask while the process ends
}

}  // namespace

void RememberConnectionProgram(ENDPOINT_ID id, uint32_t processId, std::string_view path,
                               uint32_t account) {
    ConnectionProgram program{processId, std::string(path), account};
    std::lock_guard lock(programsMutex);
    auto& programs = Programs();
    if (auto found = programs.find(id); found != programs.end()) {
        found->second = std::move(program);  // an identifier used again
        return;
    }
    if (programs.size() < kConnectionProgramsMax)
        programs.emplace(id, std::move(program));
}

void ForgetConnectionProgram(ENDPOINT_ID id) {
    std::lock_guard lock(programsMutex);
    Programs().erase(id);
}

ConnectionProgram ProgramOfConnection(ENDPOINT_ID id) {
    std::lock_guard lock(programsMutex);
    auto& programs = Programs();
    auto found = programs.find(id);
    return found == programs.end() ? ConnectionProgram{} : found->second;
}

uint32_t AccountOfConnection(ENDPOINT_ID id) {
    std::lock_guard lock(programsMutex);
    auto& programs = Programs();
    auto found = programs.find(id);
    return found == programs.end() ? kUnknownAccount : found->second.account;
}

size_t ConnectionProgramCount() {
    std::lock_guard lock(programsMutex);
    return Programs().size();
}

void ForgetAllConnectionPrograms() {
    std::lock_guard lock(programsMutex);
    Programs().clear();
}

}  // namespace gx
