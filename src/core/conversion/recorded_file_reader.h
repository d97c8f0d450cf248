#pragma once
// Converts one recorded ".dat" file record by record into CSV files: the
// records come from the readers of formats/ (headerless binary pieces, the
// program's own "LMRA" binary files, JSON lines) and every valid one goes to
// the CSV writer.
#include <string>

#include "conversion/conversion_context.h"
#include "formats/headerless_pieces.h"
#include "formats/json_lines.h"
#include "formats/lmra_records.h"
#include "formats/recording_reader.h"

namespace lumora {

// Results of ConvertFile: 0 converted (also when records were skipped), any
// other value a failure.
constexpr int kConvertOk = 0;
constexpr int kConvertCannotOpen = -1;    // cannot be opened, or no longer exists
constexpr int kConvertBadSource = -2;     // "LMRA" with an unknown format byte, or unreadable
constexpr int kConvertBadLine = -3;       // JSON lines: empty file or first line, or a line failed
constexpr int kConvertOutputFailed = -4;  // an output file could not be created or written
constexpr int kConvertCancelled = -5;     // the run was told to stop
constexpr int kConvertSourceChanged = -6; // the source's size or time changed while it was read
constexpr int kConvertNoRecords = -7;     // text source without a single valid line (lines skipped)
constexpr int kConvertFault = -8;         // the conversion itself failed (out of memory, ...)
static_assert(kConvertOk == kKindDetected && kConvertCannotOpen == kKindCannotOpen &&
              kConvertBadSource == kKindUnknownFormat);

// Converts one source into CSV files beside it. Runs on the conversion thread.
// On failure ctx.failureReason says why, in a line of its own ("cannot write
// a-2.csv.part: No space left on device"). Never throws.
int ConvertFile(ConversionContext& ctx, const std::string& path);

}  // namespace lumora
