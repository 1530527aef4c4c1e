// Request inspection: on every filtered connection the protocol layer hands the engine its HTTP
// objects on its worker threads. For each request the engine rebuilds the requested address
// (Host value followed by the request target), looks it up in the block lists and, on a hit,
// answers with the block page and hands the block to the console.
#pragma once

#include <string>

#include "api/interception/ProtocolFiltersAPI.h"
#include "engine/TPFObject.h"

namespace gx {

// The reasons shown on the block page and in the history, Windows-1252.
inline constexpr char kReasonMalware[] = "Site malveillant";
inline constexpr char kReasonTestPage[] = "URL de test (sans danger)";
inline constexpr char kReasonAdult[] = "Site adulte";

// Slot-8 callback: a whole object. A request that is not blocked is posted on to the server; a
// blocked one is answered by the block page and never posted.
void dataAvailable(ENDPOINT_ID id, PFObject* object);

// Slot-9 callback: the head of an object. DPCR_BYPASS for a request that passed, DPCR_BLOCK for
// one that was blocked and answered (or that could not be judged: then nothing answers it and
// the connection ends), DPCR_FILTER_READ_ONLY for any other object.
PF_DATA_PART_CHECK_RESULT dataPartAvailable(ENDPOINT_ID id, PFObject* object);

// Looks the request up, spelt as it came and in canonical form (see RequestSpellings.h); on a
// hit posts the block page on the connection, records the block and returns true.
bool CheckRequest(const TPFObject& object, ENDPOINT_ID id);

// The address of a request: its target alone when the target starts with "http", otherwise the
// Host value immediately followed by the target. Empty for an object that is not a request.
std::string GetRequestUrl(const TPFObject& object);

// The address with the server that the connection goes to (stream kServerStream) in place of
// the Host value; empty when the object names no such server.
std::string GetServerUrl(const TPFObject& object);

// The text of stream 0 up to its first zero byte; empty when there is no stream 0.
std::string ReadFirstLine(const TPFObject& object);

}  // namespace gx
