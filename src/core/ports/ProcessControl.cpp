#include "ProcessControl.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace ProcessControl {

QString failureMessage(int errorNumber)
{
    switch (errorNumber) {
    case ESRCH:
        return QStringLiteral("进程不存在（可能已退出）。");
    case EPERM:
        return QStringLiteral("权限不足：该进程可能属于其他用户或系统，需要管理员权限。");
    default: {
        char buffer[256] = {};
        // The GNU variant may return a static string instead of filling the buffer.
        const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
        return QStringLiteral("终止失败：") + QString::fromLocal8Bit(text);
    }
    }
}

namespace {

// 0 and negative identifiers address this program's own process group, every process, or a
// process group: never a single process, so nothing is sent.
Result invalidPid(qint32 pid)
{
    return {false, QStringLiteral("进程号无效（%1）：未发送任何信号。").arg(pid)};
}

Result signalled(const Platform::HeldProcess& held, bool force)
{
    switch (held.outcome) {
    case Platform::HeldProcess::Outcome::held:
        break;
    case Platform::HeldProcess::Outcome::reused:
        return {false, QStringLiteral("进程号已被其他进程复用（原进程已退出）：未发送任何信号。")};
    case Platform::HeldProcess::Outcome::failed:
        return {false, failureMessage(held.error)};
    }
    const int error = Platform::signalHeld(held, force ? SIGKILL : SIGTERM);
    return error == 0 ? Result{true, QString()} : Result{false, failureMessage(error)};
}

} // namespace

Result kill(qint32 pid, bool force)
{
    if (pid < 1)
        return invalidPid(pid);
    if (::kill(pid, force ? SIGKILL : SIGTERM) == 0)
        return {true, QString()};
    return {false, failureMessage(errno)};
}

Result killGuarded(qint32 pid, quint64 startTime, bool force)
{
    if (pid < 1)
        return invalidPid(pid);
    return signalled(Platform::holdProcess(pid, startTime), force);
}

Result kill(const ServicePort& record, bool force)
{
    Platform::HeldProcess held;
    return kill(record, force, held);
}

Result kill(const ServicePort& record, bool force, Platform::HeldProcess& held)
{
    if (record.pid < 1)
        return invalidPid(record.pid);
    held = Platform::holdProcess(record.pid, record.startTime);
    return signalled(held, force);
}

Result kill(const Platform::HeldProcess& held, bool force)
{
    return signalled(held, force);
}

} // namespace ProcessControl
