#include "ProjectSsh.h"

#include "engine/volume/SftpVolume.h"
#include "sftp/SftpAddress.h"

void RememberProjectSshCommand(const TProjectRecord& project) {
    for (const std::string* root :
         {&project.FSource, &project.FTarget, &project.FDeploy, &project.FVersionFolder}) {
        if (IsSftpAddress(*root)) {
            RememberSshCommand(*root, project.FSshCommand);
        }
    }
}
