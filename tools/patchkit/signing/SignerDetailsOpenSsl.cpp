#include "signing/SignerDetails.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>

namespace {

struct Pkcs7Free {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
struct SignerInfoFree {
    void operator()(PKCS7_SIGNER_INFO* signer) const { PKCS7_SIGNER_INFO_free(signer); }
};
struct TstInfoFree {
    void operator()(TS_TST_INFO* info) const { TS_TST_INFO_free(info); }
};
struct OpenSslFree {
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};

std::string DottedOid(const ASN1_OBJECT* oid) {
    char dotted[128];
    const int length = OBJ_obj2txt(dotted, sizeof dotted, oid, 1);
    return length > 0 && length < static_cast<int>(sizeof dotted) ? dotted : "";
}

bool ReadName(const X509_NAME* name, std::string& text) {
    std::vector<RelativeName> names;
    int set = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        if (length < 0) {
            return false;
        }
        std::unique_ptr<unsigned char, OpenSslFree> owned(utf8);
        if (names.empty() || X509_NAME_ENTRY_set(entry) != set) {
            names.emplace_back();
            set = X509_NAME_ENTRY_set(entry);
        }
        names.back().push_back(NameAttribute{
            DottedOid(X509_NAME_ENTRY_get_object(entry)),
            std::string(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length))});
    }
    text = DistinguishedName(names);
    return true;
}

bool ReadTime(const ASN1_TIME* time, std::string& text) {
    std::tm broken{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1) {
        return false;
    }
    text = TimeText(UtcTime{broken.tm_year + 1900, broken.tm_mon + 1, broken.tm_mday,
                            broken.tm_hour, broken.tm_min, broken.tm_sec});
    return true;
}

// The INTEGER's content bytes as the certificate encodes them.
bool ReadSerialNumber(const ASN1_INTEGER* serial, std::string& text) {
    unsigned char* der = nullptr;
    const int length = i2d_ASN1_INTEGER(serial, &der);
    std::unique_ptr<unsigned char, OpenSslFree> owned(der);
    if (length < 2) {
        return false;
    }
    const int header = der[1] < 0x80 ? 2 : 2 + (der[1] & 0x7F);
    if (header >= length) {
        return false;
    }
    text = SerialNumberText(std::string(reinterpret_cast<const char*>(der) + header,
                                        static_cast<std::size_t>(length - header)));
    return true;
}

bool ReadCertificate(const X509* certificate, CertificateDetails& details) {
    return ReadName(X509_get_subject_name(certificate), details.subject) &&
           ReadName(X509_get_issuer_name(certificate), details.issuer) &&
           ReadSerialNumber(X509_get0_serialNumber(certificate), details.serialNumber) &&
           ReadTime(X509_get0_notBefore(certificate), details.notBefore) &&
           ReadTime(X509_get0_notAfter(certificate), details.notAfter);
}

// The certificate that issued signer, among the certificates of the given signatures.
X509* SignerCertificate(const PKCS7_SIGNER_INFO* signer,
                        std::initializer_list<const PKCS7*> signatures) {
    if (signer == nullptr || signer->issuer_and_serial == nullptr) {
        return nullptr;
    }
    for (const PKCS7* signature : signatures) {
        X509* found = X509_find_by_issuer_and_serial(signature->d.sign->cert,
                                                     signer->issuer_and_serial->issuer,
                                                     signer->issuer_and_serial->serial);
        if (found != nullptr) {
            return found;
        }
    }
    return nullptr;
}

PKCS7_SIGNER_INFO* FirstSigner(const PKCS7* p7) {
    STACK_OF(PKCS7_SIGNER_INFO)* signers = p7->d.sign->signer_info;
    return sk_PKCS7_SIGNER_INFO_num(signers) > 0 ? sk_PKCS7_SIGNER_INFO_value(signers, 0) : nullptr;
}

std::unique_ptr<PKCS7, Pkcs7Free> DecodeSignedData(const unsigned char* bytes, long length) {
    std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &bytes, length));
    if (p7 && (!PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr)) {
        p7.reset();
    }
    return p7;
}

// A timestamp token: a SignedData whose content is the TSTInfo with the time.
bool ReadTimestampToken(const ASN1_STRING* value, const PKCS7* signature,
                        TimestampDetails& timestamp) {
    std::unique_ptr<PKCS7, Pkcs7Free> token = DecodeSignedData(value->data, value->length);
    if (!token) {
        return false;
    }
    std::unique_ptr<TS_TST_INFO, TstInfoFree> info(PKCS7_to_TS_TST_INFO(token.get()));
    if (!info || !ReadTime(TS_TST_INFO_get_time(info.get()), timestamp.time)) {
        return false;
    }
    const X509* authority = SignerCertificate(FirstSigner(token.get()), {token.get(), signature});
    return authority == nullptr ||
           ReadName(X509_get_subject_name(authority), timestamp.authoritySubject);
}

// A countersignature: a SignerInfo whose signed attributes hold the signing time.
bool ReadCountersignature(const ASN1_STRING* value, const PKCS7* signature,
                          TimestampDetails& timestamp) {
    const unsigned char* bytes = value->data;
    std::unique_ptr<PKCS7_SIGNER_INFO, SignerInfoFree> counter(
        d2i_PKCS7_SIGNER_INFO(nullptr, &bytes, value->length));
    const ASN1_TYPE* time =
        counter ? PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime) : nullptr;
    if (time == nullptr || (time->type != V_ASN1_UTCTIME && time->type != V_ASN1_GENERALIZEDTIME) ||
        !ReadTime(time->value.utctime, timestamp.time)) {
        return false;
    }
    const X509* authority = SignerCertificate(counter.get(), {signature});
    return authority == nullptr ||
           ReadName(X509_get_subject_name(authority), timestamp.authoritySubject);
}

bool ReadTimestamp(const PKCS7_SIGNER_INFO* signer, const PKCS7* signature,
                   SignerDetails& details) {
    const STACK_OF(X509_ATTRIBUTE)* attributes = signer->unauth_attr;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        const TimestampKind kind =
            TimestampKindOf(DottedOid(X509_ATTRIBUTE_get0_object(attribute)));
        if (kind == TimestampKind::None) {
            continue;
        }
        const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
        if (value == nullptr || value->type != V_ASN1_SEQUENCE ||
            !(kind == TimestampKind::Token
                  ? ReadTimestampToken(value->value.sequence, signature, details.timestamp)
                  : ReadCountersignature(value->value.sequence, signature, details.timestamp))) {
            return false;
        }
        details.timestamped = true;
        return true;
    }
    return true;
}

} // namespace

bool ReadSignerDetails(const std::string& signature, SignerDetails& details) {
    details = SignerDetails();
    std::unique_ptr<PKCS7, Pkcs7Free> p7 =
        DecodeSignedData(reinterpret_cast<const unsigned char*>(signature.data()),
                         static_cast<long>(signature.size()));
    const PKCS7_SIGNER_INFO* signer = p7 ? FirstSigner(p7.get()) : nullptr;
    if (signer == nullptr) {
        return false;
    }
    const X509* certificate = SignerCertificate(signer, {p7.get()});
    if (certificate != nullptr) {
        if (!ReadCertificate(certificate, details.certificate)) {
            return false;
        }
        details.certificateFound = true;
    }
    return ReadTimestamp(signer, p7.get(), details);
}
