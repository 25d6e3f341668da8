#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dvd {
class IfoFile;
}

namespace wizard {

// Names of the title set files of a DVD folder ("VTS_01_0.IFO",
// "VTS_01_1.VOB"). Discs copied by other tools may carry lower-case names,
// so names are looked up without regard to case.

// "VTS_%.2d_%d.<extension>" with the title set n and the part m.
std::string TitleSetFileName(int n, int m, const char* extension);

// The title set and part numbers of a name of that form (any case), with
// `extension` ("IFO", "VOB"); none for other names.
struct TitleSetFileNumbers {
  int title_set = 0;
  int part = 0;
};
std::optional<TitleSetFileNumbers> ParseTitleSetFileName(const std::string& name,
                                                         const char* extension);

// The name of the entry of `folder` that is `name` without regard to case
// (the exact name first); none when there is no such entry of the kind.
std::optional<std::string> FindEntryNoCase(const std::string& folder, const std::string& name,
                                           bool directory = false);

// folder + the name on disk of `name` ("/" between them); folder + name when
// there is no such file, so that callers see it missing.
std::string FilePathNoCase(const std::string& folder, const std::string& name);

// The information file of title set n in `folder`: its "VTS_nn_0.IFO", or
// the backup "VTS_nn_0.BUP" (a copy of it) when the IFO is empty or missing
// and the backup is not; the IFO's path when neither holds a byte.
std::string TitleSetInformationPath(const std::string& folder, int n);

// That information file opened; nullptr when it cannot be read or is no
// title set's information file.
std::unique_ptr<dvd::IfoFile> OpenTitleSetInformation(const std::string& folder, int n);

// Whether title set n of `folder` can be analysed: an information file and
// a first VOB file, neither of them empty.
bool TitleSetUsable(const std::string& folder, int n);

// Whether `folder` holds a title: a "VTS_??_0.IFO" whose title set is
// usable. One damaged title set does not make the others unusable.
bool FolderHoldsTitle(const std::string& folder);

}  // namespace wizard
