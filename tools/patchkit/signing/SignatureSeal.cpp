#include "signing/SignatureSeal.h"

#include <cstring>
#include <vector>

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kExplicitContent = 0xA0;           // ContentInfo's [0]
constexpr unsigned char kUnauthenticatedAttributes = 0xA1; // SignerInfo's [1] IMPLICIT SET OF

// 1.2.840.113549.1.7.2, PKCS#7 signedData.
const unsigned char kSignedDataOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                        0xF7, 0x0D, 0x01, 0x07, 0x02};
// 2.25.275300463099274742968762062326635241963: a UUID-based identifier minted for the seal.
const unsigned char kSealOid[] = {0x06, 0x14, 0x69, 0x83, 0x9E, 0x9C, 0xF8, 0xB2, 0x8E, 0xBB, 0xF2,
                                  0x98, 0x9B, 0x86, 0x8C, 0xEB, 0x9E, 0x80, 0x9D, 0xB4, 0xC3, 0x6B};

// A DER element's place in the signature bytes.
struct Element {
    unsigned char tag = 0;
    std::size_t start = 0;   // of its tag
    std::size_t content = 0; // of its content
    std::size_t end = 0;     // one past its last byte
};

// Reads the element at `at`, which must end by limit. Only definite lengths of up to 4 bytes.
[[nodiscard]] bool ReadElement(const std::string& der, std::size_t at, std::size_t limit,
                               Element& element) {
    if (limit > der.size() || at >= limit || limit - at < 2) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    element.tag = bytes[at];
    element.start = at;
    if ((element.tag & 0x1F) == 0x1F) {
        return false; // multi-byte tags occur nowhere in a signature's path
    }
    std::size_t length = bytes[at + 1];
    std::size_t headerSize = 2;
    if (length >= 0x80) {
        const std::size_t lengthBytes = length & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4 || limit - at - 2 < lengthBytes) {
            return false;
        }
        length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) {
            length = length << 8 | bytes[at + 2 + i];
        }
        headerSize += lengthBytes;
    }
    element.content = at + headerSize;
    if (length > limit - element.content) {
        return false;
    }
    element.end = element.content + length;
    return true;
}

// The children of a constructed element, in order; false when they do not fill it exactly.
[[nodiscard]] bool ReadChildren(const std::string& der, const Element parent,
                                std::vector<Element>& children) {
    children.clear();
    for (std::size_t at = parent.content; at < parent.end;) {
        Element child;
        if (!ReadElement(der, at, parent.end, child)) {
            return false;
        }
        children.push_back(child);
        at = child.end;
    }
    return true;
}

[[nodiscard]] bool StartsWith(const std::string& der, const Element& element,
                              const unsigned char* bytes, std::size_t size) {
    return element.end - element.start >= size &&
           std::memcmp(der.data() + element.start, bytes, size) == 0;
}

// The only child of parent, which must have the tag given.
[[nodiscard]] bool OnlyChild(const std::string& der, const Element& parent, unsigned char tag,
                             Element& child) {
    std::vector<Element> children;
    if (!ReadChildren(der, parent, children) || children.size() != 1 || children[0].tag != tag) {
        return false;
    }
    child = children[0];
    return true;
}

[[nodiscard]] bool LastChild(const std::string& der, const Element& parent, Element& child) {
    std::vector<Element> children;
    if (!ReadChildren(der, parent, children) || children.empty()) {
        return false;
    }
    child = children.back();
    return true;
}

// A ContentInfo of signed data, and its [0] that holds the SignedData.
[[nodiscard]] bool ReadContentInfo(const std::string& der, Element& contentInfo, Element& content) {
    std::vector<Element> children;
    if (!ReadElement(der, 0, der.size(), contentInfo) || contentInfo.tag != kSequence ||
        !ReadChildren(der, contentInfo, children) || children.size() != 2 ||
        !StartsWith(der, children[0], kSignedDataOid, sizeof kSignedDataOid) ||
        children[1].tag != kExplicitContent) {
        return false;
    }
    content = children[1];
    return true;
}

// The elements from the ContentInfo down to the signer, each the last child of the one before:
// ContentInfo, [0], SignedData, SignerInfos, SignerInfo; then the unauthenticated attributes when
// the signer has them.
[[nodiscard]] bool FindSignerPath(const std::string& der, std::vector<Element>& path,
                                  std::string& problem) {
    problem = "the signature is not a PKCS#7 SignedData in DER with one signer";
    path.clear();
    Element contentInfo;
    Element content;
    Element signedData;
    Element signerInfos;
    Element signerInfo;
    Element lastOfSigner;
    if (!ReadContentInfo(der, contentInfo, content) ||
        !OnlyChild(der, content, kSequence, signedData) ||
        !LastChild(der, signedData, signerInfos) || signerInfos.tag != kSet ||
        !OnlyChild(der, signerInfos, kSequence, signerInfo) ||
        !LastChild(der, signerInfo, lastOfSigner)) {
        return false;
    }
    path = {contentInfo, content, signedData, signerInfos, signerInfo};
    if (lastOfSigner.tag == kUnauthenticatedAttributes) {
        std::vector<Element> attributes;
        if (!ReadChildren(der, lastOfSigner, attributes)) {
            return false;
        }
        path.push_back(lastOfSigner);
    }
    problem.clear();
    return true;
}

[[nodiscard]] bool LastAttributeIsSeal(const std::string& der, const std::vector<Element>& path) {
    if (path.back().tag != kUnauthenticatedAttributes) {
        return false;
    }
    std::vector<Element> attributes;
    std::vector<Element> parts;
    return ReadChildren(der, path.back(), attributes) && !attributes.empty() &&
           ReadChildren(der, attributes.back(), parts) && !parts.empty() &&
           StartsWith(der, parts[0], kSealOid, sizeof kSealOid) &&
           parts[0].end - parts[0].start == sizeof kSealOid;
}

std::string Header(unsigned char tag, std::size_t length) {
    std::string header(1, static_cast<char>(tag));
    if (length < 0x80) {
        return header + static_cast<char>(length);
    }
    std::string lengthBytes;
    for (; length != 0; length >>= 8) {
        lengthBytes.insert(lengthBytes.begin(), static_cast<char>(length & 0xFF));
    }
    return header + static_cast<char>(0x80 | lengthBytes.size()) + lengthBytes;
}

std::string Wrapped(unsigned char tag, const std::string& content) {
    return Header(tag, content.size()) + content;
}

// The seal attribute: the identifier, then one OCTET STRING of padding and the trailer.
std::string SealAttribute(const unsigned char (&trailer)[kPackageTrailerSize],
                          std::size_t padding) {
    const std::string value = std::string(padding, '\0') +
                              std::string(reinterpret_cast<const char*>(trailer), sizeof trailer);
    return Wrapped(kSequence,
                   std::string(reinterpret_cast<const char*>(kSealOid), sizeof kSealOid) +
                       Wrapped(kSet, Wrapped(kOctetString, value)));
}

// Rebuilds the path from the inside out: every element keeps its content up to its last child,
// which grows by what was appended below it; the innermost gets the attribute at its end.
std::string Reencoded(const std::string& der, const std::vector<Element>& path,
                      const std::string& attribute) {
    const Element& innermost = path.back();
    const std::string appended = innermost.tag == kUnauthenticatedAttributes
                                     ? attribute
                                     : Wrapped(kUnauthenticatedAttributes, attribute);
    std::string rebuilt = Wrapped(
        innermost.tag, der.substr(innermost.content, innermost.end - innermost.content) + appended);
    for (std::size_t level = path.size() - 1; level-- > 0;) {
        const Element& element = path[level];
        const std::size_t lastChild = path[level + 1].start;
        rebuilt = Wrapped(element.tag,
                          der.substr(element.content, lastChild - element.content) + rebuilt);
    }
    return rebuilt;
}

} // namespace

bool TrimToDer(const std::string& data, std::string& der) {
    Element outer;
    if (!ReadElement(data, 0, data.size(), outer)) {
        return false;
    }
    der = data.substr(0, outer.end);
    return true;
}

bool IsSealed(const std::string& signature) {
    std::vector<Element> path;
    std::string problem;
    return FindSignerPath(signature, path, problem) && LastAttributeIsSeal(signature, path);
}

bool SealSignature(const std::string& signature,
                   const unsigned char (&trailer)[kPackageTrailerSize], std::string& sealed,
                   std::string& problem) {
    std::vector<Element> path;
    if (!FindSignerPath(signature, path, problem)) {
        return false;
    }
    if (LastAttributeIsSeal(signature, path)) {
        problem = "the signature is already sealed";
        return false;
    }
    // Each length that grows into another byte adds one; within a few dozen paddings the total
    // is a multiple of 8.
    constexpr std::size_t kLargestPadding = 64;
    for (std::size_t padding = 0; padding <= kLargestPadding; ++padding) {
        sealed = Reencoded(signature, path, SealAttribute(trailer, padding));
        if (sealed.size() % 8 == 0) {
            return true;
        }
    }
    problem = "the sealed signature cannot be aligned to 8 bytes";
    return false;
}
