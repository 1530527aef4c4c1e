// The targets of the lists: list files as they lie on disk, list sources as the maker writes
// them, and the addresses that are looked up in them.
#include <unistd.h>

#include <string>
#include <string_view>

#include "fuzz/FuzzTargets.h"
#include "http/IcsUrl.h"
#include "lists/CanonicalAddress.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListImport.h"
#include "lists/ListPacker.h"

namespace gx::fuzz {
namespace {

// A file holding the bytes, removed when this goes.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string_view bytes) {
        int fd = ::mkstemp(fPath);
        if (fd < 0) {
            fPath[0] = '\0';
            return;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }
    ~TemporaryFile() {
        if (fPath[0] != '\0') {
            ::unlink(fPath);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Made() const { return fPath[0] != '\0'; }
    std::string Path() const { return fPath; }

  private:
    char fPath[32] = "/tmp/gx-fuzz-list-XXXXXX";
};

std::string_view Text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// What the packer writes, the loader must read whole.
void PackAndLoad(ListKind kind, std::string_view source) {
    PackResult packed = PackList(kind, source);
    if (!packed.ok) {
        return;
    }
    TemporaryFile file(packed.records);
    if (!file.Made()) {
        return;
    }
    bool loaded =
        kind == ListKind::Malware ? LoadMalwareURLList(file.Path()) : LoadPornURLList(file.Path());
    if (!loaded) {
        __builtin_trap();  // a list that packs but does not load
    }
}

}  // namespace

int FuzzListFiles(const uint8_t* data, size_t size) {
    TemporaryFile file(Text(data, size));
    if (!file.Made()) {
        return 0;
    }
    if (LoadMalwareURLList(file.Path())) {
        IsMalwareURL("www.gardalix.example/test_malware/");
        IsMalwareURL("");
        IsMalwareHost("www.gardalix.example/test_malware/");
    }
    if (LoadPornURLList(file.Path())) {
        IsPornURL("www.example.org/page");
    }
    return 0;
}

int FuzzListSources(const uint8_t* data, size_t size) {
    std::string_view source = Text(data, size);
    PackAndLoad(ListKind::Malware, source);
    PackAndLoad(ListKind::Adult, source);
    ImportResult imported = ImportFeed(source);
    PackAndLoad(ListKind::Malware, imported.text);
    return 0;
}

int FuzzAddress(const uint8_t* data, size_t size) {
    std::string_view bytes = Text(data, size);
    // Before the first line end: the address; after it: the target of the previous request.
    size_t cut = bytes.find('\n');
    std::string_view address = bytes.substr(0, cut);
    std::string_view base = cut == std::string_view::npos ? "" : bytes.substr(cut + 1);
    SplitUrl(address, base);

    std::string canonical = CanonicalAddress(address);
    std::string written = "left over";
    WriteCanonicalAddress(address, written);
    if (written != canonical || CanonicalAddress(canonical) != canonical) {
        __builtin_trap();  // two canonical forms of one address
    }
    std::string escapes = CanonicalEscapes(address);
    if (CanonicalEscapes(escapes) != escapes) {
        __builtin_trap();
    }
    return 0;
}

}  // namespace gx::fuzz
