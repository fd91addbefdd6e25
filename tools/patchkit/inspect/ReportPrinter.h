#pragma once

#include "base/JsonReader.h"
#include "base/JsonWriter.h"
#include "inspect/InspectPackage.h"

#include <string>

// The report of `patchkit inspect` for people, and as one JSON document for release pipelines.
std::string ReportAsText(const PackageReport& report);
std::string ReportAsJson(const PackageReport& report);
// The signature object of the report, for the documents that summarise packages.
void SignatureJson(JsonWriter& json, const SignatureReport& signature);
// That object read back. False when it is incomplete, or describes a signature inspect reports as
// an error (not sealed, a digest that differs), which no index holds.
[[nodiscard]] bool ParseSignatureJson(const JsonValue& value, SignatureReport& signature);
// "sha256, sealed, digest matches the file", or "none".
std::string SignatureLine(const SignatureReport& signature);
