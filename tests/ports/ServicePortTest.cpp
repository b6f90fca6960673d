#include "Models.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

ServicePort record(std::optional<QString> appName, std::optional<QString> workingDir)
{
    return ServicePort{
        QUuid::createUuid(),  8080, "TCP", "*", 42, "node", "dev", std::move(appName), std::nullopt,
        std::move(workingDir)};
}

// Points HOME somewhere else for the lifetime of the object.
class HomeOverride {
public:
    explicit HomeOverride(const QByteArray& home) : saved_(qgetenv("HOME"))
    {
        qputenv("HOME", home);
    }
    ~HomeOverride() { qputenv("HOME", saved_); }

private:
    QByteArray saved_;
};

} // namespace

TEST(ServicePort, DisplayNamePrefersAnyApplicationName)
{
    EXPECT_EQ(record(std::nullopt, std::nullopt).displayName(), QStringLiteral("node"));
    EXPECT_EQ(record(QString(), std::nullopt).displayName(), QString());
    EXPECT_EQ(record(QStringLiteral("终端"), std::nullopt).displayName(), QStringLiteral("终端"));
}

TEST(ServicePort, WorkingDirectoryTextsFollowTheHomeDirectoryOfTheMoment)
{
    HomeOverride home("/home/dev");
    const std::vector<std::pair<std::optional<QString>, std::optional<QString>>> cases{
        {std::nullopt, std::nullopt},
        {"/home/dev", "~"},
        {"/home/dev/", "~/"},
        {"/home/dev/src/api", "~/src/api"},
        {"/home/devx/y", "/home/devx/y"},
        {"/home", "/home"},
        {"/srv/home/dev/x", "/srv/home/dev/x"},
        {"", ""},
    };
    for (const auto& [dir, shown] : cases) {
        const auto port = record(std::nullopt, dir);
        EXPECT_EQ(port.displayWorkingDir(), shown) << dir.value_or("(none)").toStdString();
        EXPECT_EQ(port.workingDirSortKey(), dir.value_or(QString()));
    }

    // Read afresh on every call, and compared by characters, not bytes.
    HomeOverride chinese("/home/开发者");
    EXPECT_EQ(record(std::nullopt, QStringLiteral("/home/开发者/项目")).displayWorkingDir(),
              QStringLiteral("~/项目"));
}

TEST(ServicePort, EqualityAndHashCoverEveryField)
{
    const ServicePort base = record(QStringLiteral("App"), QStringLiteral("/w"));
    EXPECT_EQ(base, base);
    EXPECT_EQ(qHash(base), qHash(ServicePort(base)));

    std::vector<ServicePort> variants(9, base);
    variants[0].id = QUuid::createUuid();
    variants[1].port = 8081;
    variants[2].networkProtocol = "UDP";
    variants[3].address = "::1";
    variants[4].pid = 43;
    variants[5].command = "deno";
    variants[6].user = "root";
    variants[7].appName = std::nullopt;
    variants[8].workingDir = std::nullopt;
    for (const auto& other : variants) {
        EXPECT_NE(other, base);
        EXPECT_NE(qHash(other), qHash(base));
    }

    // An absent text and a present empty one differ, in every optional.
    ServicePort absent = base;
    absent.bundleID = std::nullopt;
    ServicePort empty = base;
    empty.bundleID = QString();
    EXPECT_NE(absent, empty);
    EXPECT_NE(qHash(absent), qHash(empty));
    EXPECT_NE(qHash(absent, 1), qHash(absent, 2));
}
