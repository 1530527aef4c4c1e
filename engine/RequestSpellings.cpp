#include "engine/RequestSpellings.h"

#include "lists/CanonicalAddress.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "platform/codepage/CaseFold.h"

namespace gx {

RequestSpellings::RequestSpellings(std::string_view url, std::string_view serverUrl) {
    spellings_[count_++] = {url, CanonicalAddress(url)};
    if (!serverUrl.empty() && !SameTextNoCase(serverUrl, url)) {
        spellings_[count_++] = {serverUrl, CanonicalAddress(serverUrl)};
    }
}

bool RequestSpellings::IsMalware() const {
    for (int i = 0; i < count_; ++i) {
        const Spelling& spelling = spellings_[i];
        // The address as listed, in its canonical form, or on a host the list names whole.
        if (IsMalwareURL(spelling.sent) ||
            IsMalwareCanonicalURL(spelling.sent, spelling.canonical) ||
            IsMalwareHost(spelling.sent) || IsMalwareHost(spelling.canonical)) {
            return true;
        }
    }
    return false;
}

bool RequestSpellings::IsAdult() const {
    for (int i = 0; i < count_; ++i) {
        const Spelling& spelling = spellings_[i];
        if (IsPornURL(spelling.sent) || IsPornCanonicalURL(spelling.sent, spelling.canonical)) {
            return true;
        }
    }
    return false;
}

}  // namespace gx
