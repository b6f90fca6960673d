// Lists one engine as a user outside its group would: when run as root, it first becomes "nobody".
// Prints the reason the listing failed, or how many containers it found.

#include "EngineApi.h"

#include <QTextStream>

#include <grp.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        return 3;
    const auto listing =
        Containers::listContainers({Containers::Engine::docker, QString::fromLocal8Bit(argv[1])});
    QTextStream out(stdout);
    if (listing.problem)
        out << listing.problem->reason() << Qt::endl;
    else
        out << "containers: " << listing.containers.size() << Qt::endl;
    return 0;
}
