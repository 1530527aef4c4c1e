// The list bundle's reader, fed damaged and hostile bundles in memory.
#include <gtest/gtest.h>

#include <functional>

#include "update/BuildFile.h"
#include "update/BuildWriter.h"
#include "update/ListBundle.h"

namespace gx {
namespace {

const KeyPairPem& MakerKeys() {
    static const KeyPairPem keys = *GenerateKeyPair();
    return keys;
}

ListBundleContent SomeLists() {
    ListBundleContent content;
    content.serial = 42;
    content.published = 1700000000;
    content.malware = {"bad.example/", "whole.example/*", std::string(255, 'a')};
    content.adult = {"xxx", std::string(128, 'p')};
    return content;
}

// A bundle signed by the maker around any payload, as a forger who holds the key could write it.
std::string SignedAround(const std::string& payload) {
    std::string bundle = WriteListBundle(SomeLists(), MakerKeys().privatePem).value();
    std::string header = bundle.substr(0, kListBundleHeaderSize);
    header.replace(32, 8, std::string(8, '\0'));
    for (std::size_t i = 0; i < 8; ++i) {
        header[32 + i] = static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    }
    const std::string signedPart = header + payload;
    return signedPart + SignAsMaker(signedPart, MakerKeys().privatePem).value();
}

TEST(ListBundle, WhatIsWrittenReadsBackWithItsSerialAndBothLists) {
    const std::string bundle = WriteListBundle(SomeLists(), MakerKeys().privatePem).value();
    const CheckedListBundle checked = CheckListBundle(bundle, MakerKeys().publicPem);
    ASSERT_EQ(checked.fault, ListBundleFault::None);
    EXPECT_EQ(checked.content.serial, 42u);
    EXPECT_EQ(checked.content.published, 1700000000u);
    EXPECT_EQ(checked.content.malware, SomeLists().malware);
    EXPECT_EQ(checked.content.adult, SomeLists().adult);
    EXPECT_EQ(PeekListSerial(bundle), 42u);
}

TEST(ListBundle, TheWriterRefusesListsBeyondTheBounds) {
    ListBundleContent tooManyAdult = SomeLists();
    tooManyAdult.adult.assign(kMaxAdultEntries + 1, "p");
    ListBundleContent tooLongAdult = SomeLists();
    tooLongAdult.adult = {std::string(kMaxAdultEntryBytes + 1, 'p')};
    ListBundleContent tooLongAddress = SomeLists();
    tooLongAddress.malware = {std::string(256, 'a')};
    for (const auto* content : {&tooManyAdult, &tooLongAdult, &tooLongAddress}) {
        EXPECT_FALSE(WriteListBundle(*content, MakerKeys().privatePem));
    }
    EXPECT_FALSE(WriteListBundle(SomeLists(), MakerKeys().publicPem));  // not a private key
}

TEST(ListBundle, EveryDamageIsRefusedWithItsFault) {
    const std::string good = WriteListBundle(SomeLists(), MakerKeys().privatePem).value();
    const KeyPairPem other = *GenerateKeyPair();
    auto flip = [&good](std::size_t at) {
        std::string bytes = good;
        bytes[at] ^= 0x01;
        return bytes;
    };
    std::string lyingCount;  // the malicious list claims more entries than it holds
    AppendLittle(lyingCount, 1000, 4);
    lyingCount +=
        "\x03"
        "abc";
    std::string trailing;  // both lists empty, then bytes after them
    AppendLittle(trailing, 0, 4);
    AppendLittle(trailing, 0, 4);
    trailing += "more";
    std::string tooManyAdult;
    AppendLittle(tooManyAdult, 0, 4);
    AppendLittle(tooManyAdult, kMaxAdultEntries + 1, 4);
    tooManyAdult += std::string(kMaxAdultEntries + 1, '\0');
    struct Case {
        const char* name;
        std::string bytes;
        std::string publicKey;
        ListBundleFault fault;
    };
    const Case cases[] = {
        {"empty", "", MakerKeys().publicPem, ListBundleFault::Truncated},
        {"half a header", good.substr(0, 30), MakerKeys().publicPem, ListBundleFault::Truncated},
        {"one byte short", good.substr(0, good.size() - 1), MakerKeys().publicPem,
         ListBundleFault::Truncated},
        {"one byte more", good + "x", MakerKeys().publicPem, ListBundleFault::Truncated},
        {"another magic", flip(0), MakerKeys().publicPem, ListBundleFault::BadMagic},
        {"another format", flip(8), MakerKeys().publicPem, ListBundleFault::BadFormat},
        {"reserved bytes set", flip(50), MakerKeys().publicPem, ListBundleFault::BadFormat},
        {"serial changed", flip(16), MakerKeys().publicPem, ListBundleFault::BadSignature},
        {"payload changed", flip(kListBundleHeaderSize + 3), MakerKeys().publicPem,
         ListBundleFault::BadSignature},
        {"signature changed", flip(good.size() - 1), MakerKeys().publicPem,
         ListBundleFault::BadSignature},
        {"another maker's key", good, other.publicPem, ListBundleFault::BadSignature},
        {"no key", good, "", ListBundleFault::BadSignature},
        {"signed garbage", SignedAround("not zlib"), MakerKeys().publicPem,
         ListBundleFault::BadPayload},
        {"a count that lies", SignedAround(Deflate(lyingCount).value()), MakerKeys().publicPem,
         ListBundleFault::BadPayload},
        {"bytes after the lists", SignedAround(Deflate(trailing).value()), MakerKeys().publicPem,
         ListBundleFault::BadPayload},
        {"more adult patterns than the table holds", SignedAround(Deflate(tooManyAdult).value()),
         MakerKeys().publicPem, ListBundleFault::BadPayload},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CheckedListBundle checked = CheckListBundle(c.bytes, c.publicKey);
        EXPECT_EQ(checked.fault, c.fault);
        EXPECT_TRUE(checked.content.malware.empty());
        EXPECT_FALSE(DescribeListFault(c.fault).empty());
    }
}

TEST(ListBundle, APayloadLargerThanItsBoundIsNotInflated) {
    // Inflating stops at the bound, whatever the stream would grow to.
    const std::string zeros(1 << 20, '\0');
    const std::string compressed = Deflate(zeros).value();
    EXPECT_FALSE(InflateBounded(compressed, zeros.size() - 1));
    EXPECT_EQ(InflateBounded(compressed, zeros.size()), zeros);
    EXPECT_FALSE(InflateBounded(compressed.substr(0, compressed.size() / 2), zeros.size()));
    EXPECT_FALSE(InflateBounded(compressed + "x", zeros.size()));
}

}  // namespace
}  // namespace gx
