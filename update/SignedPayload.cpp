#include "update/SignedPayload.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <zlib.h>

#include "platform/program/OpenSslHandles.h"
#include "platform/text/Hex.h"

namespace gx {

bool VerifyMakerSignature(std::string_view message, std::string_view signature,
                          std::string_view publicKeyPem) {
    if (signature.size() != kMakerSignatureSize) {
        return false;
    }
    BioHandle bio(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
    if (!bio) {
        return false;
    }
    PkeyHandle key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
        return false;
    }
    MdContextHandle context(EVP_MD_CTX_new());
    return context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

std::optional<std::string> SignAsMaker(const std::string& message,
                                       const std::string& privateKeyPem) {
    BioHandle bio(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
    PkeyHandle key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
        return std::nullopt;
    }
    MdContextHandle context(EVP_MD_CTX_new());
    std::string signature(kMakerSignatureSize, '\0');
    std::size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        length != kMakerSignatureSize) {
        return std::nullopt;
    }
    return signature;
}

std::optional<std::string> InflateBounded(std::string_view payload, std::uint64_t maxBytes) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return std::nullopt;
    }
    std::string out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
    stream.avail_in = static_cast<uInt>(payload.size());
    char chunk[64 * 1024];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            break;
        }
        out.append(chunk, sizeof chunk - stream.avail_out);
        if (out.size() > maxBytes) {
            status = Z_MEM_ERROR;
        } else if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
            status = Z_DATA_ERROR;  // the stream ends before its end marker
        }
    }
    // The whole payload must be the one stream: no bytes after it.
    const bool whole = status == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

std::optional<std::string> Deflate(const std::string& bytes) {
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                  reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return std::nullopt;
    }
    out.resize(length);
    return out;
}

std::uint64_t ReadLittle(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

void AppendLittle(std::string& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return LowerHex(digest, length);
}

}  // namespace gx
