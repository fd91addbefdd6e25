#include "signing/SignatureDigest.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace {

struct Pkcs7Free {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
struct SequenceFree {
    void operator()(ASN1_SEQUENCE_ANY* sequence) const {
        sk_ASN1_TYPE_pop_free(sequence, ASN1_TYPE_free);
    }
};
struct DigestInfoFree {
    void operator()(X509_SIG* digestInfo) const { X509_SIG_free(digestInfo); }
};

// The DER of an ASN1_TYPE that holds a SEQUENCE.
[[nodiscard]] bool SequenceBytes(const ASN1_TYPE* value, const unsigned char*& bytes,
                                 long& length) {
    if (value == nullptr || value->type != V_ASN1_SEQUENCE || value->value.sequence == nullptr) {
        return false;
    }
    bytes = value->value.sequence->data;
    length = value->value.sequence->length;
    return true;
}

} // namespace

[[nodiscard]] bool ReadSignedDigest(const std::string& signature, SignedDigest& result) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(signature.data());
    std::unique_ptr<PKCS7, Pkcs7Free> p7(
        d2i_PKCS7(nullptr, &bytes, static_cast<long>(signature.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr ||
        p7->d.sign->contents == nullptr || PKCS7_type_is_data(p7->d.sign->contents)) {
        return false;
    }
    // SpcIndirectDataContent ::= SEQUENCE { data, messageDigest DigestInfo }
    const unsigned char* content = nullptr;
    long contentLength = 0;
    if (!SequenceBytes(p7->d.sign->contents->d.other, content, contentLength)) {
        return false;
    }
    std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree> parts(
        d2i_ASN1_SEQUENCE_ANY(nullptr, &content, contentLength));
    const unsigned char* digestInfoBytes = nullptr;
    long digestInfoLength = 0;
    if (!parts || sk_ASN1_TYPE_num(parts.get()) != 2 ||
        !SequenceBytes(sk_ASN1_TYPE_value(parts.get(), 1), digestInfoBytes, digestInfoLength)) {
        return false;
    }
    std::unique_ptr<X509_SIG, DigestInfoFree> digestInfo(
        d2i_X509_SIG(nullptr, &digestInfoBytes, digestInfoLength));
    if (!digestInfo) {
        return false;
    }
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &digest);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    char dotted[128];
    const int dottedLength = OBJ_obj2txt(dotted, sizeof dotted, oid, 1);
    if (digest == nullptr || dottedLength <= 0 || dottedLength >= static_cast<int>(sizeof dotted)) {
        return false;
    }
    result.algorithmOid = dotted;
    result.digest.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(digest)),
                         static_cast<std::size_t>(ASN1_STRING_length(digest)));
    return true;
}

struct Hasher::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

Hasher::Hasher(const std::string& algorithmName) : m_state(new State) {
    const EVP_MD* md =
        algorithmName.empty() ? nullptr : EVP_get_digestbyname(algorithmName.c_str());
    m_state->context = md != nullptr ? EVP_MD_CTX_new() : nullptr;
    if (m_state->context != nullptr && EVP_DigestInit_ex(m_state->context, md, nullptr) != 1) {
        EVP_MD_CTX_free(m_state->context);
        m_state->context = nullptr;
    }
}

Hasher::~Hasher() = default;

bool Hasher::Ready() const {
    return m_state->context != nullptr;
}

bool Hasher::Add(const unsigned char* bytes, std::size_t count) {
    return Ready() && EVP_DigestUpdate(m_state->context, bytes, count) == 1;
}

bool Hasher::Finish(std::string& digest) {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!Ready() || EVP_DigestFinal_ex(m_state->context, value, &length) != 1) {
        return false;
    }
    digest.assign(reinterpret_cast<const char*>(value), length);
    return true;
}

bool Hasher::DigestSoFar(std::string& digest) const {
    if (!Ready()) {
        return false;
    }
    State copy;
    copy.context = EVP_MD_CTX_new();
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (copy.context == nullptr || EVP_MD_CTX_copy_ex(copy.context, m_state->context) != 1 ||
        EVP_DigestFinal_ex(copy.context, value, &length) != 1) {
        return false;
    }
    digest.assign(reinterpret_cast<const char*>(value), length);
    return true;
}
