#pragma once

#include "base/TaskQueue.h"
#include "record/ReleaseFolder.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A release's identity: every folder and file of its game folder as the updater names them, with
// sizes and SHA-256 digests, and the state its version.ini records.

enum class ManifestKind { Folder, File, Pak };

struct ManifestEntry {
    std::string key;  // code page 936: the path the updater writes, a folder's without its "/"
    std::string path; // the same as UTF-8, for people
    ManifestKind kind = ManifestKind::File;
    std::uint64_t size = 0;
    std::string sha256;             // raw digest of every byte
    std::string sha256BeforeOffset; // the pak's: of its bytes before the pak offset
    // Where the release holds it, and its name there as UTF-8 (not part of the document).
    std::filesystem::path source;
    std::string releaseName;
};

struct ReleaseManifest {
    std::uint32_t version = 0;
    std::int64_t recordedPakOffset = 0; // as version.ini holds it; 0: none recorded
    std::uint64_t pakOffset = 0;        // in effect: the recorded one, or the pak's length
    std::vector<ManifestEntry> entries; // sorted by key, byte by byte
    // version.ini's bytes, for the sha256sum lines (not part of the document, which records its
    // meaning)
    std::string stateSha256;
    std::filesystem::path stateSource;

    // The pak version.ini's offset belongs to: the release's only .pak; null when there is none
    // or more than one.
    const ManifestEntry* Pak() const;
    const ManifestEntry* Find(const std::string& key) const;
};

// Reads and hashes the release folder (its version.ini included) on work.jobs threads. False, with
// every reason naming the file, for what diff refuses in a release (an unreadable folder or
// version.ini, names that differ only in case), names Windows does not allow, a recorded pak
// offset beyond the pak's end, a file that changed while it was read, or a stop.
[[nodiscard]] bool MakeManifest(const std::filesystem::path& release, ReleaseManifest& manifest,
                                const WorkSettings& work, const std::atomic<bool>* stop,
                                std::string& error);

// The document: the same manifest always gives the same bytes.
std::string ManifestJson(const ReleaseManifest& manifest);
// Reads strictly: false, with the reason, for a document that is not a manifest, one of a format
// this patchkit does not know, and one whose fields are missing, malformed or contradict each
// other (a name the updater would not write, an entry whose folder is not listed, a digest that
// is not 64 hexadecimal digits, an offset other than the pak and version.ini give).
[[nodiscard]] bool ParseManifest(const std::string& json, ReleaseManifest& manifest,
                                 std::string& error);
// The file read and parsed; the reason names the file.
[[nodiscard]] bool ReadManifestFile(const std::filesystem::path& path, ReleaseManifest& manifest,
                                    std::string& error);

// The release as a diff sees it, from its manifest alone: every entry under the name the updater
// writes, its path for messages under label, its version.ini's version and recorded offset.
Release ReleaseOfManifest(const ReleaseManifest& manifest, const std::filesystem::path& label);

// "DIGEST  NAME" lines as sha256sum -c reads them in the release folder, under the names the
// release folder spells, sorted as the manifest is, version.ini last.
std::string Sha256Sums(const ReleaseManifest& manifest);
