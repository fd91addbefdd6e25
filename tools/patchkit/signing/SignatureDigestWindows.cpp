#include "signing/SignatureDigest.h"

// The crypto API headers need windows.h; this is the tool, not the engine.
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct MessageClose {
    void operator()(void* message) const { CryptMsgClose(message); }
};

// The inner content of the PKCS#7 SignedData: the encoded SpcIndirectDataContent.
[[nodiscard]] bool ReadContent(const std::string& signature, std::vector<BYTE>& content) {
    std::unique_ptr<void, MessageClose> message(
        CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    DWORD size = 0;
    if (!message ||
        !CryptMsgUpdate(message.get(), reinterpret_cast<const BYTE*>(signature.data()),
                        static_cast<DWORD>(signature.size()), TRUE) ||
        !CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size) || size == 0) {
        return false;
    }
    content.resize(size);
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, content.data(), &size)) {
        return false;
    }
    content.resize(size);
    return true;
}

const wchar_t* BcryptAlgorithm(const std::string& name) {
    if (name == "sha1") {
        return BCRYPT_SHA1_ALGORITHM;
    }
    if (name == "sha256") {
        return BCRYPT_SHA256_ALGORITHM;
    }
    if (name == "sha384") {
        return BCRYPT_SHA384_ALGORITHM;
    }
    if (name == "sha512") {
        return BCRYPT_SHA512_ALGORITHM;
    }
    if (name == "md5") {
        return BCRYPT_MD5_ALGORITHM;
    }
    return nullptr;
}

} // namespace

[[nodiscard]] bool ReadSignedDigest(const std::string& signature, SignedDigest& result) {
    std::vector<BYTE> content;
    if (!ReadContent(signature, content)) {
        return false;
    }
    DWORD size = 0;
    SPC_INDIRECT_DATA_CONTENT* indirect = nullptr;
    if (!CryptDecodeObjectEx(kEncoding, SPC_INDIRECT_DATA_CONTENT_STRUCT, content.data(),
                             static_cast<DWORD>(content.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &indirect, &size) ||
        indirect == nullptr) {
        return false;
    }
    const bool complete = indirect->DigestAlgorithm.pszObjId != nullptr;
    if (complete) {
        result.algorithmOid = indirect->DigestAlgorithm.pszObjId;
        result.digest.assign(reinterpret_cast<const char*>(indirect->Digest.pbData),
                             indirect->Digest.cbData);
    }
    LocalFree(indirect);
    return complete;
}

struct Hasher::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

Hasher::Hasher(const std::string& algorithmName) : m_state(new State) {
    const wchar_t* algorithm = BcryptAlgorithm(algorithmName);
    if (algorithm == nullptr ||
        !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_state->algorithm, algorithm, nullptr, 0)) ||
        !BCRYPT_SUCCESS(
            BCryptCreateHash(m_state->algorithm, &m_state->hash, nullptr, 0, nullptr, 0, 0))) {
        m_state->hash = nullptr;
    }
}

Hasher::~Hasher() = default;

bool Hasher::Ready() const {
    return m_state->hash != nullptr;
}

bool Hasher::Add(const unsigned char* bytes, std::size_t count) {
    return Ready() && BCRYPT_SUCCESS(BCryptHashData(m_state->hash, const_cast<PUCHAR>(bytes),
                                                    static_cast<ULONG>(count), 0));
}

namespace {

bool FinishHash(BCRYPT_HASH_HANDLE hash, std::string& digest) {
    DWORD length = 0;
    ULONG written = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(hash, BCRYPT_HASH_LENGTH,
                                          reinterpret_cast<PUCHAR>(&length), sizeof length,
                                          &written, 0))) {
        return false;
    }
    std::vector<UCHAR> value(length);
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash, value.data(), length, 0))) {
        return false;
    }
    digest.assign(value.begin(), value.end());
    return true;
}

} // namespace

bool Hasher::Finish(std::string& digest) {
    return Ready() && FinishHash(m_state->hash, digest);
}

bool Hasher::DigestSoFar(std::string& digest) const {
    BCRYPT_HASH_HANDLE copy = nullptr;
    if (!Ready() || !BCRYPT_SUCCESS(BCryptDuplicateHash(m_state->hash, &copy, nullptr, 0, 0))) {
        return false;
    }
    const bool finished = FinishHash(copy, digest);
    BCryptDestroyHash(copy);
    return finished;
}
