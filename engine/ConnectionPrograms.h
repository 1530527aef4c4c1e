// Which program each filtered connection belongs to, so that a block can name the program that
// sent the blocked request. Admission records the program (its process id and the full path of
// its executable, as the interception layer names it) when it attaches the filters; the end of
// the connection forgets it. Any worker thread; one lock around one hash table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/interception/NetFilter2API.h"

namespace gx {

// The account of a connection that the kernel could not tell.
inline constexpr uint32_t kUnknownAccount = UINT32_MAX;

struct ConnectionProgram {
    uint32_t processId = 0;              // 0: unknown
    std::string path;                    // empty: the layer could not name the process
    uint32_t account = kUnknownAccount;  // the account (uid) that owns the connection
};

// At most this many connections are remembered at once; a connection beyond that is still
// filtered, only its program is not known.
inline constexpr size_t kConnectionProgramsMax = 65536;

void RememberConnectionProgram(ENDPOINT_ID id, uint32_t processId, std::string_view path,
                               uint32_t account = kUnknownAccount);
void ForgetConnectionProgram(ENDPOINT_ID id);
// Empty for a connection that is not remembered.
ConnectionProgram ProgramOfConnection(ENDPOINT_ID id);
// The account alone (kUnknownAccount for a connection that is not remembered): judging reads it
// for every request, without copying the program's path.
uint32_t AccountOfConnection(ENDPOINT_ID id);
// Connections remembered now.
size_t ConnectionProgramCount();
// When the engine stops: no connection of the old run lives on.
void ForgetAllConnectionPrograms();

}  // namespace gx
