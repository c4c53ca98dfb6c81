#include "AskPass.h"

#include "FmAskPass.h"

#include <QApplication>
#include <QFile>
#include <cstdio>

bool IsAskPassStart() {
    return qEnvironmentVariable(AskPassVariable) == QStringLiteral("1");
}

std::vector<std::string> AskPassEnvironment(const QString& program) {
    return {"SSH_ASKPASS=" + QFile::encodeName(program).toStdString(), "SSH_ASKPASS_REQUIRE=force",
            std::string(AskPassVariable) + "=1"};
}

int AskPassMain(int argc, char** argv) {
    // Taken before Qt reads its own options out of the arguments.
    const QString prompt = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QApplication application(argc, argv);
    return RunAskPass(prompt);
}

int RunAskPass(const QString& prompt) {
    QByteArray answer;
    const int status = AskPass(prompt, AskPassKindOf(qgetenv("SSH_ASKPASS_PROMPT")), answer);
    std::fwrite(answer.constData(), 1, static_cast<std::size_t>(answer.size()), stdout);
    std::fflush(stdout);
    answer.fill('\0');
    return status;
}
