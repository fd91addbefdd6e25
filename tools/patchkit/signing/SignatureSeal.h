#pragma once

#include "package/PackageTrailer.h"

#include <cstddef>
#include <string>

// The seal keeps a package's trailer the file's last 8 bytes under an Authenticode signature: the
// trailer becomes the last 8 bytes of an unauthenticated attribute of the signature's signer, the
// last element of the DER encoding. Unauthenticated attributes are outside what the signer signed,
// and the certificate table is outside the image hash, so the signature stays valid. The DER is
// padded inside the attribute to a multiple of 8 bytes: no padding follows it in the certificate
// entry, which Windows' strict padding check demands.

// The signature's DER without the zeros that pad its certificate entry: data ends where the
// outer length says. False when that length does not fit in data.
bool TrimToDer(const std::string& data, std::string& der);

// Whether the signer's last unauthenticated attribute is a seal. signature is a certificate
// entry's data: the PKCS#7 ContentInfo, possibly followed by padding. False also when the
// structure is not that of an Authenticode signature.
bool IsSealed(const std::string& signature);

// The signature with the seal attribute holding trailer appended to its signer: a DER encoding
// whose length is a multiple of 8 and whose last 8 bytes are the trailer. False, with the reason,
// when the signature is not a single-signer PKCS#7 SignedData in DER or is already sealed.
bool SealSignature(const std::string& signature,
                   const unsigned char (&trailer)[kPackageTrailerSize], std::string& sealed,
                   std::string& problem);
