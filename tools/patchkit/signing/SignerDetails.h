#pragma once

#include <string>
#include <vector>

// Who signed a package, until when the certificate is valid, and when the signature was
// timestamped. Natively OpenSSL reads the signature; in the Windows build the system's crypto API
// does; both give the same texts.

struct CertificateDetails {
    std::string subject;      // "CN=Publisher, O=Example Ltd, C=CN": the most specific part first
    std::string issuer;       // likewise
    std::string serialNumber; // upper-case hex digits, as `openssl x509 -serial` shows it
    std::string notBefore;    // UTC, "2026-12-09T05:10:00Z"
    std::string notAfter;
};

struct TimestampDetails {
    std::string time;             // UTC, as notBefore
    std::string authoritySubject; // empty when the authority's certificate is not in the signature
};

struct SignerDetails {
    bool certificateFound = false; // the signer's certificate is among the signature's own
    CertificateDetails certificate;
    bool timestamped = false;
    TimestampDetails timestamp;
};

// Reads the signer's certificate and the first timestamp (RFC 3161, or the older
// countersignature) of signature, the DER of an Authenticode signature. False when the structure
// cannot be parsed; a missing certificate or timestamp is no failure.
bool ReadSignerDetails(const std::string& signature, SignerDetails& details);

// ---- the texts both implementations give, from what each of them decodes

struct NameAttribute {
    std::string oid;   // dotted, e.g. "2.5.4.3"
    std::string value; // UTF-8
};
using RelativeName = std::vector<NameAttribute>;

// A distinguished name from its relative names in the order the certificate stores them (the
// country first, as a rule), shown the other way round, "CN=Publisher, O=Example Ltd, C=CN".
std::string DistinguishedName(const std::vector<RelativeName>& names);

struct UtcTime {
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
// "2026-12-09T05:10:00Z"
std::string TimeText(const UtcTime& time);

// The serial number from the bytes of its DER INTEGER, most significant first: upper-case hex
// digits, two per byte, without the zero bytes that lead the encoding.
std::string SerialNumberText(const std::string& bigEndian);

// What an unauthenticated attribute of the signer holds, by its identifier.
enum class TimestampKind {
    None,
    Token,            // an RFC 3161 timestamp token (signtool /tr, osslsigncode -ts)
    Countersignature, // the older countersignature (signtool /t)
};
TimestampKind TimestampKindOf(const std::string& attributeOid);
