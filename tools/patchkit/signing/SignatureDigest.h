#pragma once

#include <cstddef>
#include <memory>
#include <string>

// The digest an Authenticode signature signs, and the hashing to compare it with. Natively OpenSSL
// parses and hashes; in the Windows build the system's crypto API does.

struct SignedDigest {
    std::string algorithmOid; // dotted, e.g. "2.16.840.1.101.3.4.2.1"
    std::string digest;       // raw bytes
};

// Reads the digest from the signature's SpcIndirectDataContent. signature is a certificate
// entry's data (the PKCS#7 ContentInfo, possibly padded). False when it cannot be parsed.
[[nodiscard]] bool ReadSignedDigest(const std::string& signature, SignedDigest& result);

// Hashes with the algorithm of that name: "sha1", "sha256", "sha384", "sha512" or "md5".
class Hasher {
public:
    explicit Hasher(const std::string& algorithmName);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    // False when the algorithm is unavailable or the library fails.
    bool Ready() const;
    [[nodiscard]] bool Add(const unsigned char* bytes, std::size_t count);
    [[nodiscard]] bool Finish(std::string& digest);
    // The digest of the bytes added so far, leaving the hashing to go on: one pass gives the
    // digests of a file's first bytes and of all of it.
    [[nodiscard]] bool DigestSoFar(std::string& digest) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
