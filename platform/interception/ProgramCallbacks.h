// The program's C event table behind the ProgramBridge: the only code of the library that
// builds the C records and objects handed to the program's callbacks.
#pragma once

#include "api/interception/ProtocolFiltersAPI.h"
#include "platform/interception/ProgramBridge.h"

namespace gx::interception {

class ProgramCallbacks : public ProgramBridge {
  public:
    explicit ProgramCallbacks(const PFEvents& events) : events_(events) {}

    void WorkerStarted() override;
    void WorkerEnded() override;
    bool JudgesRequests() const override;
    bool Connected(ENDPOINT_ID id, const ConnectionAnnouncement& connection) override;
    HeadVerdict JudgeHead(ENDPOINT_ID id, const RequestHead& head) override;
    void HandWhole(ENDPOINT_ID id, const RequestHead& head, std::string_view body) override;
    void Closed(ENDPOINT_ID id) override;

  private:
    PFEvents events_;
};

}  // namespace gx::interception
