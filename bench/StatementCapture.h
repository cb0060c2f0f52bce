// The statement texts that one library call sends to the engine, so that
// the raw reference runs exactly those texts rather than a copy of them
// that could drift from the library's.
//
// The call runs once, for real, on a connection opened through a driver
// that records each text and passes it on to the embedded engine; the
// measured library objects connect the ordinary way, without it.
#ifndef KIV_BENCH_STATEMENTCAPTURE_H_
#define KIV_BENCH_STATEMENTCAPTURE_H_

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "KivPlcDbIO.h"

namespace kivbench {

// The texts, in UTF-8 as the engine gets them, in the order they ran.
// Throws when the call cannot connect.
std::vector<std::string> CaptureStatements(const std::filesystem::path& catalogue,
                                           const std::function<void(KivPlcDbIO&)>& call);
// The same on the catalogue `dataSource` of the driver `driver`.
std::vector<std::string> CaptureStatements(const std::wstring& dataSource, const std::wstring& driver,
                                           const std::function<void(KivPlcDbIO&)>& call);

// The one text that `call` runs; throws unless it runs exactly one.
std::string CaptureStatement(const std::filesystem::path& catalogue, const std::function<void(KivPlcDbIO&)>& call);

}  // namespace kivbench

#endif  // KIV_BENCH_STATEMENTCAPTURE_H_
