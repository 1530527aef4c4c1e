// Connection admission: which outbound connections get the protocol filters, and so the request
// inspection, and which belong to an exempt program and are left alone.
//
// The two exemption tables are fixed arrays shared by the layers' worker threads, which append
// and scan them at the same time without a lock: an append reserves a slot, stores the value and
// only then marks the slot filled, so a scan never reads a slot before its value is stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api/interception/NetFilter2API.h"

namespace gx {

inline constexpr size_t kExemptConnectionsMax = 16384;
inline constexpr size_t kExemptProcessesMax = 8192;

// Slot-3 callback: called once per outbound connection right after it is established. Filters
// are attached unless the connection or its process is already exempt or the process's name
// holds an exempt program name; a process whose name cannot be had is filtered. A filtered
// connection's program is remembered (ConnectionPrograms.h) until tcpClosed.
void tcpConnected(ENDPOINT_ID id, PNF_TCP_CONN_INFO info);

// Slot-4 callback: the connection has ended; its program is forgotten.
void tcpClosed(ENDPOINT_ID id, PNF_TCP_CONN_INFO info);

// True when an exempt program name occurs anywhere in the (lower-cased) process name.
bool IsExemptProcessName(std::string_view name);

// Appends; false when the table is full (nothing is stored, and for a process no rule added).
bool AddExemptConnection(ENDPOINT_ID id);
bool AddExemptProcess(uint32_t pid);

bool IsExemptConnection(ENDPOINT_ID id);
bool IsExemptProcess(uint32_t pid);

// Entries stored so far.
size_t ExemptConnectionCount();
size_t ExemptProcessCount();

}  // namespace gx
