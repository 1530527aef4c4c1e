// The console as one account's window onto the system service. When the service answers on its
// control channel, the console starts no proxy of its own: its switches, its parental code and
// its history are the service's for this account, asked over the channel; the service decides
// (a switch that protects a child less needs the code, which the console asks with its usual
// dialog and passes on). Ending the console changes nothing: the service keeps filtering.
// Without the service, the console works as it always has.
#pragma once

#include <string>

#include "console/ConsoleServices.h"
#include "service/ControlSocket.h"

namespace gx {

// Whether the service runs and answers this account.
bool ServiceAnswers(const std::string& path = service::ControlPath());

// The table of the per-user program with what the service now does in its place.
ConsoleServices ServiceModeServices(ConsoleServices perUser,
                                    const std::string& path = service::ControlPath());

}  // namespace gx
