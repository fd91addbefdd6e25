#include "signing/FileHashing.h"

#include "base/Progress.h"
#include "base/StopRequest.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"
#include "signing/SignatureDigest.h"

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

// One hashing of the file gives every digest: at each prefix's end, the digest so far.
class FileHasher {
public:
    FileHasher(const HashRequest& request, HashResult& result)
        : m_request(request), m_result(result), m_whole("sha256") {
        m_result.prefixDigests.assign(request.prefixes.size(), std::string());
    }

    // The next piece of the file.
    bool Add(const unsigned char* bytes, std::size_t count) {
        while (count > 0) {
            if (!NotePrefixesReached()) {
                return false;
            }
            const std::uint64_t at = m_result.size;
            std::uint64_t end = at + count; // up to the nearest prefix's end within the piece
            for (const std::uint64_t prefix : m_request.prefixes) {
                end = prefix > at && prefix < end ? prefix : end;
            }
            const auto part = static_cast<std::size_t>(end - at);
            if (!m_whole.Add(bytes, part)) {
                return false;
            }
            m_result.size += part;
            bytes += part;
            count -= part;
        }
        return true;
    }

    bool Finish() { return NotePrefixesReached() && m_whole.Finish(m_result.whole); }

private:
    bool NotePrefixesReached() {
        for (std::size_t i = 0; i < m_request.prefixes.size(); ++i) {
            if (m_request.prefixes[i] == m_result.size && m_result.prefixDigests[i].empty() &&
                !m_whole.DigestSoFar(m_result.prefixDigests[i])) {
                return false;
            }
        }
        return true;
    }

    const HashRequest& m_request;
    HashResult& m_result;
    Hasher m_whole;
};

void HashOneFile(const HashRequest& request, HashResult& result, unsigned char* buffer,
                 Progress* progress, const std::atomic<bool>* stop) {
    result = HashResult();
    FileHandle file = OpenFile(request.path, "rb");
    FileHasher hasher(request, result);
    if (!file || !SeekFile(file.get(), static_cast<std::int64_t>(request.start))) {
        return;
    }
    const PieceRun run = ReadPiecesToEnd(
        file.get(), buffer, [stop] { return StopAsked(stop); },
        [&hasher, progress](const unsigned char* bytes, std::size_t count) {
            if (!hasher.Add(bytes, count)) {
                return false;
            }
            if (progress != nullptr) {
                progress->Add(count);
            }
            return true;
        });
    result.read = run == PieceRun::Done && hasher.Finish();
}

} // namespace

bool HashFiles(const std::vector<HashRequest>& requests, std::vector<HashResult>& results,
               const WorkSettings& work, const std::atomic<bool>* stop) {
    results.assign(requests.size(), HashResult());
    std::vector<std::size_t> order(requests.size());
    std::iota(order.begin(), order.end(), 0);
    // Largest first, so that no large file is left to run alone at the end.
    std::stable_sort(order.begin(), order.end(), [&requests](std::size_t a, std::size_t b) {
        return requests[a].expectedSize > requests[b].expectedSize;
    });
    std::atomic<std::size_t> next{0};
    std::atomic<bool> outOfMemory{false};
    const auto hashSome = [&] {
        // One buffer per thread is all the memory hashing takes.
        const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
        if (!buffer) {
            outOfMemory = true;
            return;
        }
        for (std::size_t at = next++; at < order.size() && !StopAsked(stop); at = next++) {
            HashOneFile(requests[order[at]], results[order[at]], buffer.get(), work.progress, stop);
        }
    };
    const unsigned threads =
        static_cast<unsigned>(std::min<std::size_t>(JobCount(work.jobs), order.size()));
    {
        TaskQueue hashers(threads > 1 ? threads : 0);
        for (unsigned thread = 0; thread < std::max(threads, 1u); ++thread) {
            hashers.Submit(hashSome);
        }
    }
    return !StopAsked(stop) && !outOfMemory;
}

bool HashFilesShown(const std::vector<HashRequest>& requests, std::vector<HashResult>& results,
                    const WorkSettings& work, const std::atomic<bool>* stop) {
    if (work.progress != nullptr) {
        std::uint64_t total = 0;
        for (const HashRequest& request : requests) {
            total += request.expectedSize;
        }
        work.progress->Start("hashing", total);
    }
    const bool hashed = HashFiles(requests, results, work, stop);
    if (work.progress != nullptr) {
        work.progress->Finish();
    }
    return hashed;
}
