// gx-get URL [FILE]: fetches an address with the program's HTTP client and prints the status,
// the reason and the number of body bytes; the body goes to FILE when one is named.
// Exit status: 0 when the request succeeded, 1 when the client reported a failure, 2 on misuse.
#include <cstdio>
#include <memory>
#include <string>

#include <QCoreApplication>

#include "http/HttpProt.h"
#include "platform/codepage/Cp1252.h"

namespace {

// Texts of the client are Windows-1252; the terminal reads UTF-8.
void PrintLine(const std::string& label, const std::string& cp1252) {
    std::printf("%s%s\n", label.c_str(), gx::Cp1252ToUtf8(cp1252).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: gx-get URL [FILE]\n");
        return 2;
    }
    const auto url = gx::Utf8ToCp1252(argv[1]);
    if (!url) {
        std::fprintf(stderr, "gx-get: the address holds characters outside Windows-1252\n");
        return 2;
    }
    gx::MemoryStream memory;
    std::unique_ptr<gx::FileStream> file;
    gx::THttpCli http("HTTP");
    http.ReceiveStream = &memory;
    if (argc == 3) {
        file = gx::FileStream::Create(argv[2]);
        if (!file) {
            std::fprintf(stderr, "gx-get: cannot create %s\n", argv[2]);
            return 2;
        }
        http.ReceiveStream = file.get();
    }
    std::int64_t bodyBytes = 0;
    http.OnDocBegin = [&bodyBytes](gx::THttpCli&) { bodyBytes = 0; };
    http.OnDocData = [&bodyBytes](gx::THttpCli&, const char*, int length) { bodyBytes += length; };
    http.URL = *url;
    int status = 0;
    try {
        http.Get();
    } catch (const gx::EHttpException& error) {
        PrintLine("Error: ", error.what());
        status = 1;
    }
    std::printf("Status: %d\n", http.StatusCode());
    PrintLine("Reason: ", http.ReasonPhrase());
    std::printf("Body bytes: %lld\n", static_cast<long long>(bodyBytes));
    if (http.Location() != http.URL) {
        PrintLine("Location: ", http.Location());
    }
    return status;
}
