#include "EngineProblem.h"

namespace Containers {

QString EngineProblem::reason() const
{
    switch (kind) {
    case Kind::permissionDenied:
        return QStringLiteral("没有权限连接 %1").arg(socketPath);
    case Kind::unreachable:
        return QStringLiteral("无法连接 %1").arg(socketPath);
    case Kind::timedOut:
        return QStringLiteral("%1 在 %2 秒内没有应答")
            .arg(socketPath, QString::number(static_cast<double>(limit.count()) / 1000.0));
    case Kind::httpError: {
        // One arg() call: a "%2" inside the path must stay as it is.
        QString text =
            QStringLiteral("%1 返回 HTTP %2").arg(socketPath, QString::number(httpStatus));
        if (!engineMessage.isEmpty())
            text += QStringLiteral("：") + engineMessage;
        return text;
    }
    case Kind::brokenAnswer:
        return QStringLiteral("%1 的应答不完整或不是 HTTP").arg(socketPath);
    case Kind::malformed:
        return QStringLiteral("%1 返回的数据无法解析").arg(socketPath);
    case Kind::tooLarge:
        return QStringLiteral("%1 返回的数据过多").arg(socketPath);
    case Kind::failed:
        break;
    }
    return QStringLiteral("与 %1 通信失败（libcurl 错误 %2）")
        .arg(socketPath, QString::number(curlCode));
}

} // namespace Containers
