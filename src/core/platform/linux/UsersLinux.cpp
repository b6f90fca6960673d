#include "platform/Platform.h"

#include <cerrno>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace Platform {

QString userName(quint32 uid)
{
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    for (;;) {
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error == 0 && found && found->pw_name)
            return QString::fromLocal8Bit(found->pw_name);
        return QString::number(uid);
    }
}

} // namespace Platform
