// The TWAIN data sources of the scanner attached to the current unit.
//
// In <Windows dir>/twain_32/orbscan32/: the model list "OrbScanner.id"
// ("number,name" lines, ';' starts a comment) gives the model's number n;
// the three templates "Orbtw32.wrp", "Orbsi32.wrp" and "Q4MXTDS1.wrp" are
// copied to "Orbtw<nn>99.ds", "Orbsi<nn>99.ds" and "Q4MXT<nn>99.ds" after
// every earlier data source of those three kinds is removed, and the first
// one is named as the default source in the [TWAIN] keys of win.ini.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::eventmod {

// The folder of the model list, the templates and the data sources.
std::filesystem::path dataSourceFolder();

// The model's number from the list's content (first match, names compared
// without regard to case); nullopt when the model is not listed.
std::optional<unsigned> modelNumber(std::string_view modelList, std::string_view model);

// Prepares the data sources for model; keyNames are the two [TWAIN] keys of
// win.ini that receive the first data source's full name. Returns false
// when the model is not listed (the data sources are then left as they
// are) or a step failed.
bool prepareDataSources(std::string_view model, const std::vector<std::string>& keyNames);

} // namespace lumarc::eventmod
