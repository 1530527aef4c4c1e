#include "platform/interception/ResponseQueue.h"

namespace gx::interception {

std::shared_ptr<ResponseSlot> ResponseQueue::Open(bool closeAfter) {
    auto slot = std::make_shared<ResponseSlot>();
    slot->closeAfter = closeAfter;
    slots_.push_back(slot);
    return slot;
}

void ResponseQueue::Deliver(ResponseSlot* slot, const char* data, size_t n) {
    if (ended_ || n == 0) {
        return;
    }
    slot->started = true;
    if (IsHead(slot)) {
        sink_.Write(data, n);
    } else {
        slot->held.insert(slot->held.end(), data, data + n);
    }
}

bool ResponseQueue::CanTakeMore(const ResponseSlot* slot, size_t limit) const {
    return IsHead(slot) ? sink_.Backlog() < limit : slot->held.size() < limit;
}

bool ResponseQueue::Finish(ResponseSlot* slot, bool closeAfter) {
    slot->complete = true;
    slot->closeAfter = slot->closeAfter || closeAfter;
    bool moved = false;
    while (!slots_.empty() && slots_.front()->complete && !ended_) {
        bool close = slots_.front()->closeAfter;
        slots_.pop_front();
        moved = true;
        if (close) {
            // Nothing after this response reaches the client; what is still open is abandoned.
            ended_ = true;
            slots_.clear();
            break;
        }
        if (!slots_.empty()) {
            ResponseSlot& next = *slots_.front();
            sink_.Write(next.held.data(), next.held.size());
            std::vector<char>().swap(next.held);
        }
    }
    return moved;
}

}  // namespace gx::interception
