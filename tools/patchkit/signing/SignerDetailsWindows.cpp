#include "signing/SignerDetails.h"

#include "base/TextConversion.h"

// The crypto API headers need windows.h; this is the tool, not the engine.
#include <windows.h>

#include <wincrypt.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char* const kTstInfoOid = "1.2.840.113549.1.9.16.1.4";

struct MessageClose {
    void operator()(void* message) const { CryptMsgClose(message); }
};
struct StoreClose {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
struct CertificateFree {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};
struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};
using Message = std::unique_ptr<void, MessageClose>;
using Store = std::unique_ptr<void, StoreClose>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// Decodes into memory the result owns; nullptr when the bytes are no such structure.
template <typename T>
std::unique_ptr<T, LocalMemoryFree> Decode(const char* structure, const BYTE* bytes, DWORD size) {
    void* decoded = nullptr;
    DWORD decodedSize = 0;
    if (!CryptDecodeObjectEx(kEncoding, structure, bytes, size, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &decoded, &decodedSize)) {
        decoded = nullptr;
    }
    return std::unique_ptr<T, LocalMemoryFree>(static_cast<T*>(decoded));
}

Message OpenSignedMessage(const BYTE* bytes, DWORD size) {
    Message message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (message && !CryptMsgUpdate(message.get(), bytes, size, TRUE)) {
        message.reset();
    }
    return message;
}

bool MessageParameter(void* message, DWORD parameter, std::vector<BYTE>& value) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, parameter, 0, nullptr, &size) || size == 0) {
        return false;
    }
    value.resize(size);
    return CryptMsgGetParam(message, parameter, 0, value.data(), &size) != FALSE;
}

bool ReadName(const CERT_NAME_BLOB& blob, std::string& text) {
    const auto name = Decode<CERT_NAME_INFO>(X509_NAME, blob.pbData, blob.cbData);
    if (!name) {
        return false;
    }
    std::vector<RelativeName> names;
    for (DWORD i = 0; i < name->cRDN; ++i) {
        names.emplace_back();
        for (DWORD j = 0; j < name->rgRDN[i].cRDNAttr; ++j) {
            CERT_RDN_ATTR& attribute = name->rgRDN[i].rgRDNAttr[j];
            const DWORD length =
                CertRDNValueToStrW(attribute.dwValueType, &attribute.Value, nullptr, 0);
            std::wstring wide(length, L'\0');
            CertRDNValueToStrW(attribute.dwValueType, &attribute.Value, &wide[0], length);
            wide.resize(length > 0 ? length - 1 : 0);
            std::string utf8;
            if (!WideToUtf8(wide, utf8)) {
                return false;
            }
            names.back().push_back(NameAttribute{attribute.pszObjId, utf8});
        }
    }
    text = DistinguishedName(names);
    return true;
}

bool ReadTime(const FILETIME& time, std::string& text) {
    SYSTEMTIME broken{};
    if (!FileTimeToSystemTime(&time, &broken)) {
        return false;
    }
    text = TimeText(UtcTime{broken.wYear, broken.wMonth, broken.wDay, broken.wHour, broken.wMinute,
                            broken.wSecond});
    return true;
}

bool ReadCertificate(const CERT_INFO& info, CertificateDetails& details) {
    // Stored least significant byte first.
    const auto* serial = reinterpret_cast<const char*>(info.SerialNumber.pbData);
    const std::string leastFirst(serial, serial + info.SerialNumber.cbData);
    details.serialNumber = SerialNumberText(std::string(leastFirst.rbegin(), leastFirst.rend()));
    return ReadName(info.Subject, details.subject) && ReadName(info.Issuer, details.issuer) &&
           ReadTime(info.NotBefore, details.notBefore) && ReadTime(info.NotAfter, details.notAfter);
}

// The certificate with the issuer and serial number of wanted, from the first store holding it.
Certificate FindCertificate(CERT_INFO& wanted, std::initializer_list<void*> stores) {
    for (void* store : stores) {
        const CERT_CONTEXT* found = CertGetSubjectCertificateFromStore(store, kEncoding, &wanted);
        if (found != nullptr) {
            return Certificate(found);
        }
    }
    return Certificate();
}

Certificate MessageSignerCertificate(void* message, std::initializer_list<void*> stores) {
    std::vector<BYTE> signer;
    if (!MessageParameter(message, CMSG_SIGNER_CERT_INFO_PARAM, signer)) {
        return Certificate();
    }
    return FindCertificate(*reinterpret_cast<CERT_INFO*>(signer.data()), stores);
}

Store MessageStore(void* message) {
    return Store(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message));
}

bool ReadAuthority(const Certificate& authority, TimestampDetails& timestamp) {
    return !authority || ReadName(authority->pCertInfo->Subject, timestamp.authoritySubject);
}

// TSTInfo ::= SEQUENCE { version, policy, messageImprint, serialNumber, genTime, ... }
bool ReadTstInfoTime(const std::vector<BYTE>& content, std::string& time) {
    std::vector<BYTE> tstInfo = content;
    if (!content.empty() && content[0] == 0x04) { // still wrapped in its OCTET STRING
        const auto octets = Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, content.data(),
                                                    static_cast<DWORD>(content.size()));
        if (!octets) {
            return false;
        }
        tstInfo.assign(octets->pbData, octets->pbData + octets->cbData);
    }
    const auto fields = Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, tstInfo.data(),
                                                      static_cast<DWORD>(tstInfo.size()));
    if (!fields || fields->cValue < 5) {
        return false;
    }
    const auto genTime =
        Decode<FILETIME>(X509_CHOICE_OF_TIME, fields->rgValue[4].pbData, fields->rgValue[4].cbData);
    return genTime && ReadTime(*genTime, time);
}

bool ReadTimestampToken(const CRYPT_ATTR_BLOB& value, void* signatureStore,
                        TimestampDetails& timestamp) {
    Message token = OpenSignedMessage(value.pbData, value.cbData);
    std::vector<BYTE> type;
    std::vector<BYTE> content;
    if (!token || !MessageParameter(token.get(), CMSG_INNER_CONTENT_TYPE_PARAM, type) ||
        std::strcmp(reinterpret_cast<const char*>(type.data()), kTstInfoOid) != 0 ||
        !MessageParameter(token.get(), CMSG_CONTENT_PARAM, content) ||
        !ReadTstInfoTime(content, timestamp.time)) {
        return false;
    }
    Store tokenStore = MessageStore(token.get());
    return ReadAuthority(MessageSignerCertificate(token.get(), {tokenStore.get(), signatureStore}),
                         timestamp);
}

bool ReadCountersignature(const CRYPT_ATTR_BLOB& value, void* signatureStore,
                          TimestampDetails& timestamp) {
    const auto counter = Decode<CMSG_SIGNER_INFO>(PKCS7_SIGNER_INFO, value.pbData, value.cbData);
    if (!counter) {
        return false;
    }
    bool timeRead = false;
    for (DWORD i = 0; i < counter->AuthAttrs.cAttr && !timeRead; ++i) {
        const CRYPT_ATTRIBUTE& attribute = counter->AuthAttrs.rgAttr[i];
        if (std::strcmp(attribute.pszObjId, szOID_RSA_signingTime) == 0 && attribute.cValue > 0) {
            const auto time = Decode<FILETIME>(X509_CHOICE_OF_TIME, attribute.rgValue[0].pbData,
                                               attribute.rgValue[0].cbData);
            timeRead = time && ReadTime(*time, timestamp.time);
        }
    }
    CERT_INFO wanted{};
    wanted.Issuer = counter->Issuer;
    wanted.SerialNumber = counter->SerialNumber;
    return timeRead && ReadAuthority(FindCertificate(wanted, {signatureStore}), timestamp);
}

bool ReadTimestamp(void* message, void* store, SignerDetails& details) {
    std::vector<BYTE> buffer;
    if (!MessageParameter(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM, buffer)) {
        return true; // none at all
    }
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
        const TimestampKind kind = TimestampKindOf(attribute.pszObjId);
        if (kind == TimestampKind::None) {
            continue;
        }
        if (attribute.cValue == 0 ||
            !(kind == TimestampKind::Token
                  ? ReadTimestampToken(attribute.rgValue[0], store, details.timestamp)
                  : ReadCountersignature(attribute.rgValue[0], store, details.timestamp))) {
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
    Message message = OpenSignedMessage(reinterpret_cast<const BYTE*>(signature.data()),
                                        static_cast<DWORD>(signature.size()));
    Store store = message ? MessageStore(message.get()) : Store();
    if (!store) {
        return false;
    }
    const Certificate certificate = MessageSignerCertificate(message.get(), {store.get()});
    if (certificate) {
        if (!ReadCertificate(*certificate->pCertInfo, details.certificate)) {
            return false;
        }
        details.certificateFound = true;
    }
    return ReadTimestamp(message.get(), store.get(), details);
}
