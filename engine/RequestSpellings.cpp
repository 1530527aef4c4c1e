#include "engine/RequestSpellings.h"

#include "lists/CanonicalAddress.h"
#include "lists/ListsInUse.h"
#include "platform/codepage/CaseFold.h"

namespace gx {

RequestSpellings::RequestSpellings(std::string_view url, std::string_view serverUrl)
    : lists_(ListsInUse()) {
    spellings_[count_++] = {url, CanonicalAddress(url)};
    if (!serverUrl.empty() && !SameTextNoCase(serverUrl, url)) {
        spellings_[count_++] = {serverUrl, CanonicalAddress(serverUrl)};
    }
}

bool RequestSpellings::IsMalware() const {
    const MalwareList& malware = *lists_->malware;
    for (int i = 0; i < count_; ++i) {
        const Spelling& spelling = spellings_[i];
        // The address as listed, in its canonical form, or on a host the list names whole.
        if (malware.Contains(spelling.sent) ||
            malware.ContainsCanonical(spelling.sent, spelling.canonical) ||
            malware.ContainsHost(spelling.sent) ||
            (spelling.canonical != spelling.sent && malware.ContainsHost(spelling.canonical))) {
            return true;
        }
    }
    return false;
}

bool RequestSpellings::IsAdult() const {
    const AdultList& adult = *lists_->adult;
    for (int i = 0; i < count_; ++i) {
        const Spelling& spelling = spellings_[i];
        if (adult.FoundIn(spelling.sent) ||
            adult.FoundInCanonical(spelling.sent, spelling.canonical)) {
            return true;
        }
    }
    return false;
}

}  // namespace gx
