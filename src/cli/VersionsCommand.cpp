#include "VersionsCommand.h"

#include "Commands.h"
#include "config/PathText.h"
#include "engine/project/Plan.h"
#include "engine/project/ProjectRecord.h"
#include "engine/versions/VersionList.h"
#include "engine/versions/Versions.h"

#include <iostream>
#include <set>
#include <vector>

namespace {

// The project's receiving folder and version folder, or false with a message on stderr.
bool VersionFolderOfProject(const TIniFile& ini, const std::string& projectName, std::string& receivingRoot,
                            std::string& versionRoot) {
    const TIniFile::TValues section = ini.ReadSectionValues(ProjectSection(projectName));
    if (section.empty()) {
        std::cerr << "pairwell-cli: no project \"" << projectName << "\" in " << ini.FileName() << '\n';
        return false;
    }
    const TProjectRecord project = ReadProject(section);
    const std::string& receiving =
        project.FUpdateToOther && !IsBlank(project.FDeploy) ? project.FDeploy : project.FTarget;
    if (IsBlank(receiving)) {
        std::cerr << "pairwell-cli: project \"" << projectName << "\" has no target folder\n";
        return false;
    }
    receivingRoot = WithTrailingDelimiter(ResolveBeside(ini.FileName(), receiving));
    versionRoot = VersionFolderOf(project, ini.FileName(), receivingRoot);
    return true;
}

// A path as typed: relative to the receiving folder; a full path inside it is cut to that.
std::string RelativePath(const std::string& typed, const std::string& receivingRoot) {
    std::string path = typed;
    if (path.compare(0, receivingRoot.size(), receivingRoot) == 0) {
        path.erase(0, receivingRoot.size());
    }
    while (path.compare(0, 2, "./") == 0) {
        path.erase(0, 2);
    }
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool PrintErrors(const std::vector<TItemFailure>& errors) {
    for (const TItemFailure& error : errors) {
        std::cerr << error.FPath << ": " << error.FReason << '\n';
    }
    return !errors.empty();
}

} // namespace

int CommandVersions(const TIniFile& ini, const std::string& projectName,
                    const std::optional<std::string>& path) {
    std::string receivingRoot, versionRoot;
    if (!VersionFolderOfProject(ini, projectName, receivingRoot, versionRoot)) {
        return ExitNotCompleted;
    }
    const std::string filter = path ? RelativePath(*path, receivingRoot) : std::string();
    std::vector<TItemFailure> errors;
    for (const TVersionFile& version : ListVersions(versionRoot, &errors)) {
        if (IsVersionOf(version.FPath, filter)) {
            std::cout << FormatVersionTime(version.FStart) << '\t' << version.FPath << '\t' << version.FSize
                      << '\n';
        }
    }
    std::cout.flush();
    return PrintErrors(errors) ? ExitItemsFailed : ExitCompleted;
}

int CommandRestore(const TIniFile& ini, const std::string& projectName, const std::string& path,
                   const std::optional<TDateTime>& at, const std::optional<std::string>& to) {
    std::string receivingRoot, versionRoot;
    if (!VersionFolderOfProject(ini, projectName, receivingRoot, versionRoot)) {
        return ExitNotCompleted;
    }
    const std::string wanted = RelativePath(path, receivingRoot);
    if (wanted.empty() || !IsSafePlanLine(wanted)) {
        std::cerr << "pairwell-cli: restore needs a path below the receiving folder, not \"" << path
                  << "\"\n";
        return ExitUsage;
    }
    std::vector<TItemFailure> errors;
    const std::vector<TVersionFile> versions = ListVersions(versionRoot, &errors);
    // The file itself, or else every file below the folder of that name.
    std::set<std::string> paths;
    for (const TVersionFile& version : versions) {
        if (IsVersionOf(version.FPath, wanted) && (!at || version.FStart <= *at)) {
            paths.insert(version.FPath);
        }
    }
    if (paths.contains(wanted)) {
        paths = {wanted};
    }
    if (paths.empty()) {
        PrintErrors(errors);
        std::cerr << "pairwell-cli: no version of " << wanted;
        if (at) {
            std::cerr << " at or before " << FormatVersionTime(*at);
        }
        std::cerr << " in " << versionRoot << '\n';
        return ExitNotCompleted;
    }
    const std::string destination = to ? WithTrailingDelimiter(*to) : receivingRoot;
    TVersionStore store(versionRoot, Now());
    int status = ExitCompleted;
    for (const std::string& file : paths) {
        const std::optional<TVersionFile> version = FindVersion(versions, file, at);
        if (const std::string reason = RestoreVersion(versionRoot, *version, destination, store);
            !reason.empty()) {
            std::cerr << "pairwell-cli: " << reason << '\n';
            status = ExitNotCompleted;
            continue;
        }
        std::cout << FormatVersionTime(version->FStart) << '\t' << destination + file << '\n';
    }
    return status;
}
