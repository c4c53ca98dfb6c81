#include "VersionsCommand.h"

#include "Commands.h"
#include "config/PathText.h"
#include "engine/project/Plan.h"
#include "engine/project/ProjectRecord.h"
#include "engine/run/ProjectSsh.h"
#include "engine/versions/VersionList.h"
#include "engine/versions/Versions.h"

#include <iostream>
#include <vector>

std::string FindVersionFolders(const TIniFile& ini, const std::string& projectName,
                               std::string& receivingRoot, std::string& versionRoot) {
    const TIniFile::TValues section = ini.ReadSectionValues(ProjectSection(projectName));
    if (section.empty()) {
        return "no project \"" + projectName + "\" in " + ini.FileName();
    }
    const TProjectRecord project = ReadProject(section);
    RememberProjectSshCommand(project);
    const std::string& receiving =
        project.FUpdateToOther && !IsBlank(project.FDeploy) ? project.FDeploy : project.FTarget;
    if (IsBlank(receiving)) {
        return "project \"" + projectName + "\" has no target folder";
    }
    receivingRoot = WithTrailingDelimiter(ResolveBeside(ini.FileName(), receiving));
    versionRoot = VersionFolderOf(project, ini.FileName(), receivingRoot);
    return {};
}

std::string RelativeVersionPath(const std::string& typed, const std::string& receivingRoot) {
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

int CommandVersions(const TIniFile& ini, const std::string& projectName,
                    const std::optional<std::string>& path) {
    std::string receivingRoot, versionRoot;
    if (const std::string problem = FindVersionFolders(ini, projectName, receivingRoot, versionRoot);
        !problem.empty()) {
        std::cerr << "pairwell-cli: " << problem << '\n';
        return ExitNotCompleted;
    }
    const std::string filter = path ? RelativeVersionPath(*path, receivingRoot) : std::string();
    std::vector<TItemFailure> errors;
    for (const TVersionFile& version : ListVersions(versionRoot, &errors)) {
        if (IsVersionOf(version.FPath, filter)) {
            std::cout << FormatVersionTime(version.FStart) << '\t' << version.FPath << '\t' << version.FSize
                      << '\n';
        }
    }
    std::cout.flush();
    for (const TItemFailure& error : errors) {
        std::cerr << error.FPath << ": " << error.FReason << '\n';
    }
    return errors.empty() ? ExitCompleted : ExitItemsFailed;
}
