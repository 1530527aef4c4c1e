#include "engine/TPFHeader.h"

namespace gx {

bool TPFHeader::ReadFromStream(TPFStream stream) {
    return stream && pfc_readHeader(stream.Handle(), handle_) != 0;
}

bool TPFHeader::WriteToStream(TPFStream stream) {
    return stream && pfc_writeHeader(stream.Handle(), handle_) != 0;
}

void TPFHeader::AddField(const char* name, const char* value) {
    PFHeader_addField(handle_, name, value, -1);
}

std::string TPFHeader::GetFieldValue(const char* name) {
    PFHeaderField* field = PFHeader_findFirstField(handle_, name);
    if (!field)
        return {};
    const char* value = PFHeaderField_getValue(field);
    return value ? std::string(value) : std::string();
}

}  // namespace gx
