// The objects, headers and streams the program builds its answers with.
#include <gtest/gtest.h>

#include <string>

#include "api/interception/ProtocolFiltersAPI.h"

namespace {

std::string ReadAll(PFStream* stream) {
    std::string text(PFStream_size(stream), '\0');
    PFStream_seek(stream, 0, 0);
    PFStream_read(stream, text.data(), static_cast<uint32_t>(text.size()));
    return text;
}

TEST(ProtocolObjectsTest, StreamsBehaveLikeSmallFiles) {
    PFObject* object = PFObject_create(OT_HTTP_RESPONSE, 3);
    EXPECT_EQ(PFObject_getType(object), OT_HTTP_RESPONSE);
    EXPECT_EQ(PFObject_getStreamCount(object), 3);
    EXPECT_EQ(PFObject_isReadOnly(object), 0);
    EXPECT_EQ(PFObject_getStream(object, 3), nullptr);
    PFStream* stream = PFObject_getStream(object, 0);
    PFStream_write(stream, "old text", 8);
    PFStream_reset(stream);
    PFStream_write(stream, "HTTP/1.1 404 Not OK\r\n", 21);
    EXPECT_EQ(PFStream_size(stream), 21u);
    EXPECT_EQ(ReadAll(stream), "HTTP/1.1 404 Not OK\r\n");
    EXPECT_EQ(PFStream_seek(stream, 100, 0), 21u);  // clamped to the end
    char byte = 0;
    EXPECT_EQ(PFStream_read(stream, &byte, 1), 0u);
    PFObject_free(object);
}

TEST(ProtocolObjectsTest, HeadersRoundTripAndFindNamesInAnyCase) {
    PFObject* object = PFObject_create(OT_HTTP_REQUEST, 3);
    PFStream* stream = PFObject_getStream(object, 1);
    PFHeader* written = PFHeader_create();
    PFHeader_addField(written, "Content-Type", "text/html", -1);
    PFHeader_addField(written, "Host", "example.com:8080", -1);
    PFHeader_addField(written, "X-First", "1", 0);
    ASSERT_EQ(pfc_writeHeader(stream, written), 1);
    EXPECT_EQ(ReadAll(stream),
              "X-First: 1\r\nContent-Type: text/html\r\nHost: example.com:8080\r\n\r\n");
    PFHeader_free(written);

    PFHeader* read = PFHeader_create();
    ASSERT_EQ(pfc_readHeader(stream, read), 1);
    PFHeaderField* host = PFHeader_findFirstField(read, "host");
    ASSERT_NE(host, nullptr);
    EXPECT_STREQ(PFHeaderField_getValue(host), "example.com:8080");
    EXPECT_EQ(PFHeader_findFirstField(read, "cookie"), nullptr);
    PFHeader_free(read);

    PFStream_reset(stream);
    PFStream_write(stream, "no colon here\r\n\r\n", 17);
    PFHeader* bad = PFHeader_create();
    EXPECT_EQ(pfc_readHeader(stream, bad), 0);
    PFHeader_free(bad);
    PFObject_free(object);
}

}  // namespace
